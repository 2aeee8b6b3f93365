#pragma once
// Answers for the hook of ModalTesting.h when the code under test opens one of the
// parameter dialogs: wxExpectModal<CMsgParamDlg>({{1018, "12"}}) types "12" into the A
// field and presses OK; a button id as the second argument presses that one instead.

#include "tests/dialogs/ModalTesting.h"

#include "commands/DestAddrDlg.h"
#include "commands/MsgParamDlg.h"

template <>
class wxExpectModal<CMsgParamDlg> : public FillAndPress<CMsgParamDlg> {
public:
    explicit wxExpectModal(Edits edits = {}, int button = wxID_OK, Check check = {})
        : FillAndPress(std::move(edits), button, std::move(check))
    {
    }
};

template <>
class wxExpectModal<CDestAddrDlg> : public FillAndPress<CDestAddrDlg> {
public:
    explicit wxExpectModal(Edits edits = {}, int button = wxID_OK, Check check = {})
        : FillAndPress(std::move(edits), button, std::move(check))
    {
    }
};
