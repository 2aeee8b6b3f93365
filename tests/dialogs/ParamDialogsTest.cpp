// The two parameter dialogs, shown modeless so that the focus can be watched: what the
// input rules alone cannot show (greyed rows, focus, when the record changes). Their
// form and the destination dialog's refusals are seen through the node commands.

#include "tests/support/GuiTesting.h"

#include <wx/textctrl.h>

#include <algorithm>
#include <vector>

#include "commands/InputRules.h"
#include "commands/MsgParamDlg.h"
#include "controls/Accessible.h"

namespace {

using Words = std::vector<uint32_t>;

const ParamField& Field(int i)   // the reference fields, then the blind ones
{
    return i < REF_FIELD_COUNT ? REF_FIELDS[i] : BLIND_FIELDS[i - REF_FIELD_COUNT];
}

TEST(ParamDialogs, ShowTheirModeGreyTheOtherAndStoreOnlyWhenEveryFieldIsValid)
{
    // Words 4 to 9 belong to no reference field: they must neither show nor change.
    const Words ref = {MSG_REF_NODE_CONF, 0xFFFF, 41, 65535, 1004, 1005, 1006, 1007, 1008, 1009};
    const Words blind = {MSG_BLIND_NODE_CONF, 0x1A2B, 255, 0, 1, 65535, 12, 0x00FF, 0, 8};
    const char* const shown[] = {"FFFF", "10.25", "16383.75", "1A2B", "255", "0",
                                 "1",    "65535", "12",       "00FF", "0",   "8"};
    const struct {
        unsigned mode;           // any but the reference mode is the blind one
        const char* typed[12];   // null leaves the field as shown
        int invalid;             // the first field refused, -1 when all are valid
        Words after;
    } cases[] = {
        {1,
         {"0x00c3", "10,5", "7", "zz", 0, 0, 0, 0, 0, 0, 0, "99"},
         -1,
         {MSG_REF_NODE_CONF, 0xC3, 42, 28, 1004, 1005, 1006, 1007, 1008, 1009}},
        {0,
         {"not a number", "-3", 0, "ffff", "12ab", "+0", "0", "600", "0", "1A2Bxyz", "255", "1"},
         -1,
         {MSG_BLIND_NODE_CONF, 0xFFFF, 12, 0, 0, 600, 0, 0x1A2B, 255, 1}},
        // Valid edits before the first invalid field, and a later one invalid too.
        {1, {"1", "16383.8", ""}, 1, ref},
        {7, {0, 0, 0, "1", "1", 0, "1", "65536", 0, 0, 0, "9"}, 7, blind},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const bool isRef = c.mode == CMsgParamDlg::MODE_REFERENCE;
        DongleMessage record;
        std::copy_n((isRef ? ref : blind).begin(), 10, record.word);
        CMsgParamDlg dlg(&record, c.mode, nullptr);
        dlg.Show();
        ASSERT_TRUE(PumpUntil([&] { return dlg.IsShownOnScreen(); }));
        PumpFor(200);
        EXPECT_EQ(wxWindow::FindFocus(), dlg.FindWindow(wxID_OK));
        // The active rows show the record; the other mode's rows are empty and greyed.
        for (int i = 0; i < REF_FIELD_COUNT + BLIND_FIELD_COUNT; ++i) {
            const bool active = (i < REF_FIELD_COUNT) == isRef;
            auto* edit = wxDynamicCast(dlg.FindWindow(Field(i).editId), wxTextCtrl);
            EXPECT_EQ(edit->IsEnabled() + dlg.FindWindow(Field(i).labelId)->IsEnabled(), active ? 2 : 0) << i;
            EXPECT_EQ(edit->GetValue(), active ? shown[i] : "") << i;
            // Read by its caption.
            const wxString name = GetAccessibleName(edit);
            EXPECT_TRUE(!name.empty() && wxString::FromUTF8(Field(i).label).StartsWith(name)) << i;
            if (c.typed[i])
                edit->SetValue(c.typed[i]);
        }
        const ParamField* bad = c.invalid < 0 ? nullptr : &Field(c.invalid);
        wxCommandEvent ok(wxEVT_BUTTON, wxID_OK);
        const ExpectMessageBox box(bad ? bad->caption : "", bad ? bad->message : "", &dlg);
        wxTEST_DIALOG(dlg.FindWindow(wxID_OK)->ProcessWindowEvent(ok), bad ? box : box.Optional());
        EXPECT_EQ(dlg.IsShown(), bad != nullptr);
        if (bad) {
            EXPECT_EQ(wxWindow::FindFocus(), dlg.FindWindow(bad->editId));
        }
        EXPECT_EQ(Words(record.word, record.word + 10), c.after);
    }
}

}   // namespace
