#include "tests/dialogs/DialogExpectations.h"

#include "commands/InputRules.h"

#include <wx/button.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <vector>

namespace {

using ParamExpect = wxExpectModal<CMsgParamDlg>;
using AddrExpect = wxExpectModal<CDestAddrDlg>;
using Words = std::vector<uint32_t>;

constexpr unsigned REF = CMsgParamDlg::MODE_REFERENCE;
constexpr unsigned BLIND = CMsgParamDlg::MODE_BLIND;

// Words 4 to 9 of the reference record belong to no reference field: they must neither
// show nor change.
const Words kRef = {MSG_REF_NODE_CONF, 0xFFFF, 41, 65535, 1004, 1005, 1006, 1007, 1008, 1009};
const Words kBlind = {MSG_BLIND_NODE_CONF, 0x1A2B, 255, 0, 1, 65535, 12, 0x00FF, 0, 8};

DongleMessage Record(const Words& words)
{
    DongleMessage m;
    std::copy(words.begin(), words.end(), m.word);
    return m;
}

Words WordsOf(const DongleMessage& m)
{
    return Words(m.word, m.word + 10);
}

wxString TextOf(wxWindow* dlg, int id)
{
    auto* edit = wxDynamicCast(dlg->FindWindow(id), wxTextCtrl);
    return edit ? edit->GetValue() : wxString("<no edit control>");
}

void ExpectLayout(wxDialog* dlg, int width, int height, const char* caption)
{
    EXPECT_EQ(dlg->GetTitle(), caption);
    EXPECT_EQ(dlg->GetClientSize(), dlg->ConvertDialogToPixels(wxSize(width, height)));
    auto* ok = wxDynamicCast(dlg->FindWindow(wxID_OK), wxButton);
    auto* cancel = wxDynamicCast(dlg->FindWindow(wxID_CANCEL), wxButton);
    ASSERT_TRUE(ok && cancel);
    EXPECT_EQ(dlg->GetDefaultItem(), ok);
    EXPECT_EQ(ok->GetLabel(), "OK");
    EXPECT_EQ(cancel->GetLabel(), "Cancel");
    for (wxWindow* child : dlg->GetChildren())
        EXPECT_TRUE(wxRect(dlg->GetClientSize()).Contains(child->GetRect())) << child->GetLabel() << " lies outside";
}

// The active rows show the record under their own labels; the other mode's rows are
// empty and greyed out, but still there.
void ExpectRows(wxWindow* dlg, const ParamField* fields, bool active, const std::vector<const char*>& labels,
                const std::vector<const char*>& texts)
{
    for (size_t i = 0; i < labels.size(); ++i) {
        SCOPED_TRACE(labels[i]);
        wxWindow* edit = dlg->FindWindow(fields[i].editId);
        auto* label = wxDynamicCast(dlg->FindWindow(fields[i].labelId), wxStaticText);
        ASSERT_TRUE(edit && label);
        EXPECT_EQ(label->GetLabel(), labels[i]);
        EXPECT_EQ(TextOf(dlg, fields[i].editId), active ? texts[i] : "");
        EXPECT_EQ(edit->IsEnabled(), active);
        EXPECT_EQ(label->IsEnabled(), active);
        EXPECT_TRUE(edit->IsShown() && label->IsShown());
    }
}

TEST(MsgParamDlg, ShowsItsModeAndGreysTheOther)
{
    const std::vector<const char*> refLabels = {"Dest. Addr.: 0x", "X Position:", "Y Position:"};
    const std::vector<const char*> blindLabels = {
        "Dest. Addr.:   0x", "A:", "N:", "Operationg Mode:", "Collect Time:", "Cycle Time:",
        "Rep. Short Address:   0x", "Rep. End Point:", "Min. Ref. Nodes:"};

    for (unsigned mode : {REF, BLIND}) {
        const bool reference = mode == REF;
        DongleMessage record = Record(reference ? kRef : kBlind);
        CMsgParamDlg dlg(&record, mode, nullptr);
        ExpectLayout(&dlg, 304, 255, "Message Parameters");
        ExpectRows(&dlg, REF_FIELDS, reference, refLabels, {"FFFF", "10.25", "16383.75"});
        ExpectRows(&dlg, BLIND_FIELDS, !reference, blindLabels,
                   {"1A2B", "255", "0", "1", "65535", "12", "00FF", "0", "8"});
        auto* refBox = wxDynamicCast(dlg.FindWindow(1026), wxStaticBox);
        ASSERT_NE(refBox, nullptr);
        EXPECT_EQ(refBox->GetLabel(), "Reference node configuration");
        EXPECT_TRUE(refBox->IsEnabled());
    }
}

TEST(MsgParamDlg, OkStoresTheFieldsOfItsModeAndCancelNothing)
{
    struct Case {
        unsigned mode;
        Words before;
        ParamExpect::Edits edits;
        int button;
        Words after;
    };
    const Case cases[] = {
        // Shown values come back unchanged.
        {REF, kRef, {}, wxID_OK, kRef},
        // Each field to its own word; the other mode's fields hold rubbish that is ignored.
        {REF, kRef, {{1016, "0x00c3"}, {1014, "10,5"}, {1015, "7"}, {1017, "zz"}, {1025, "99"}}, wxID_OK,
         {MSG_REF_NODE_CONF, 0xC3, 42, 28, 1004, 1005, 1006, 1007, 1008, 1009}},
        {BLIND, kBlind,
         {{1017, "ffff"}, {1018, "12ab"}, {1019, "+0"}, {1020, "0"}, {1021, "600"}, {1022, "0"},
          {1023, "1A2Bxyz"}, {1024, "255"}, {1025, "1"}, {1016, "not a number"}, {1014, "-3"}},
         wxID_OK, {MSG_BLIND_NODE_CONF, 0xFFFF, 12, 0, 0, 600, 0, 0x1A2B, 255, 1}},
        {BLIND, kBlind, {{1017, "0001"}, {1018, "3"}, {1025, "2"}}, wxID_CANCEL, kBlind},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        DongleMessage record = Record(c.before);
        CMsgParamDlg dlg(&record, c.mode, nullptr);
        int rc = 0;
        wxTEST_DIALOG(rc = dlg.ShowModal(), ParamExpect(c.edits, c.button));
        EXPECT_EQ(rc, c.button);
        EXPECT_EQ(WordsOf(record), c.after);
    }
}

// Each field made invalid while the last field is invalid too: only the first is
// reported, with its own caption and text, the focus goes to it, and the record keeps
// every word though earlier fields were valid and edited (they are checked into a copy).
TEST(MsgParamDlg, FirstInvalidFieldIsReportedAndTakesTheFocus)
{
    const char* const hex = "Give a hex value between 0x0000 and 0xFFFF";
    const char* const position = "e.g. Allowed format: 10, 10.5 or 10.50";
    const char* const time = "The value should be given in 100 milliseconds and should be between 0 - 65535";
    struct Case {
        unsigned mode;
        int index;
        const char* invalid;
        const char* caption;
        const char* message;
    };
    const Case cases[] = {
        {REF, 0, "10000", "Invalid Node ID!", hex},
        {REF, 1, "16383.8", "Invalid input X Position!", position},
        {REF, 2, "", "Invalid input Y Position!", position},
        {BLIND, 0, "100000000", "Invalid Node ID!", hex},
        {BLIND, 1, "256", "Invalid A parameter!", "The A parameter should be a value between 0 and 255"},
        {BLIND, 2, "-1", "Invalid N parameter!", "The N parameter should be a value between 0 and 255"},
        {BLIND, 3, "2", "Invalid Operating mode!", "0 - Polled, 1 - Auto"},
        {BLIND, 4, "65536", "Invalid Collect Time!", time},
        {BLIND, 5, "99999999999999999999", "Invalid Cycle Time!", time},
        {BLIND, 6, "G1", "Invalid Report Short Address!", hex},
        {BLIND, 7, "   ", "Invalid Report Endpoint!", "The report Endpoint should be between 0 and 255"},
        {BLIND, 8, "9", "Invalid Minimum of reference nodes!",
         "The Minimum reference nodes should be between 1 and 8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        const bool reference = c.mode == REF;
        const ParamField* fields = reference ? REF_FIELDS : BLIND_FIELDS;
        const int last = (reference ? REF_FIELD_COUNT : BLIND_FIELD_COUNT) - 1;
        const int editId = fields[c.index].editId;

        // "1" is valid in every field.
        ParamExpect::Edits edits;
        for (int i = 0; i < c.index; ++i)
            edits.emplace_back(fields[i].editId, "1");
        edits.emplace_back(editId, c.invalid);
        if (c.index != last)
            edits.emplace_back(fields[last].editId, "junk");

        DongleMessage record = Record(reference ? kRef : kBlind);
        CMsgParamDlg dlg(&record, c.mode, nullptr);
        int rc = 0;
        const auto stillOpen = [&](CMsgParamDlg* d) {
            EXPECT_EQ(d->GetReturnCode(), 0);
            EXPECT_TRUE(d->IsShown());
            EXPECT_EQ(wxWindow::FindFocus(), d->FindWindow(editId));
            EXPECT_EQ(TextOf(d, editId), c.invalid);
        };
        wxTEST_DIALOG(rc = dlg.ShowModal(), ParamExpect(edits, wxID_OK, stillOpen),
                      ExpectMessageBox(c.caption, c.message, &dlg));
        EXPECT_EQ(rc, wxID_CANCEL);
        EXPECT_EQ(WordsOf(record), reference ? kRef : kBlind);
    }

    // Fresh settings hold 0 reference nodes, which cannot pass OK unchanged.
    DongleMessage fresh;
    CMsgParamDlg dlg(&fresh, BLIND, nullptr);
    wxTEST_DIALOG(dlg.ShowModal(), ParamExpect(),
                  ExpectMessageBox("Invalid Minimum of reference nodes!",
                                   "The Minimum reference nodes should be between 1 and 8", &dlg));
}

// A refused address is reported, the dialog stays open with the text as typed and the
// focus where it was (on OK, where it starts); Cancel then keeps the variable.
TEST(DestAddrDlg, ShowsTheAddressAndStoresOnlyAValidOne)
{
    struct Case {
        int before;
        const char* shown;
        const char* typed;
        int button;
        bool refused;
        int after;
    };
    const Case cases[] = {
        {0x0001, "0001", nullptr, wxID_OK, false, 0x0001},
        {0xABCD, "ABCD", " 0x1a2b ", wxID_OK, false, 0x1A2B},
        {0x0042, "0042", "10000", wxID_OK, true, 0x0042},
        {0x0042, "0042", "", wxID_OK, true, 0x0042},
        {0x0042, "0042", "1234", wxID_CANCEL, false, 0x0042},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        int addr = c.before;
        CDestAddrDlg dlg(&addr, nullptr);
        EXPECT_EQ(TextOf(&dlg, CDestAddrDlg::ID_ADDRESS), c.shown);
        AddrExpect::Edits edits;
        if (c.typed)
            edits.emplace_back(CDestAddrDlg::ID_ADDRESS, c.typed);
        int rc = 0;
        if (c.refused) {
            const auto stillOpen = [&](CDestAddrDlg* d) {
                EXPECT_TRUE(d->IsShown());
                EXPECT_EQ(TextOf(d, CDestAddrDlg::ID_ADDRESS), c.typed);
                EXPECT_EQ(wxWindow::FindFocus(), d->FindWindow(wxID_OK));
            };
            wxTEST_DIALOG(rc = dlg.ShowModal(), AddrExpect(edits, wxID_OK, stillOpen),
                          ExpectMessageBox("Invalid Destination Address!",
                                           "Give a hex value between 0x0000 and 0xFFFF", &dlg));
        } else {
            wxTEST_DIALOG(rc = dlg.ShowModal(), AddrExpect(edits, c.button));
        }
        EXPECT_EQ(rc, c.refused ? wxID_CANCEL : c.button);
        EXPECT_EQ(addr, c.after);
    }
    int addr = 0;
    CDestAddrDlg dlg(&addr, nullptr);
    ExpectLayout(&dlg, 124, 66, "Destination Address");
}

// Runs dlg's real modal loop and, once it is on screen, notes where the focus is, puts
// it on the edit control editId, where a user types, and types key there.
int ShowModalAndType(wxDialog& dlg, int editId, const wxString& text, int key, wxWindow** focusAtStart)
{
    wxTimer type;
    type.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        *focusAtStart = wxWindow::FindFocus();
        auto* edit = wxDynamicCast(dlg.FindWindow(editId), wxTextCtrl);
        edit->SetFocus();
        edit->SetValue(text);
        wxUIActionSimulator().Char(key);
    });
    wxTimer giveUp;
    giveUp.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        ADD_FAILURE() << "the dialog did not end on key " << key;
        dlg.EndModal(wxID_ABORT);
    });
    type.StartOnce(500);
    giveUp.StartOnce(5000);
    RealModalLoops real;
    return dlg.ShowModal();
}

// The real modal loop with keys typed on the display: the focus starts on OK (GTK would
// put it on the first edit control), Return in an edit control presses the default
// button, Escape cancels.
TEST(ParamDialogs, KeysInTheRealModalLoop)
{
    DongleMessage record = Record(kBlind);
    CMsgParamDlg params(&record, BLIND, nullptr);
    wxWindow* focus = nullptr;
    EXPECT_EQ(ShowModalAndType(params, 1018, "17", WXK_RETURN, &focus), wxID_OK);
    EXPECT_EQ(focus, params.FindWindow(wxID_OK));
    Words want = kBlind;
    want[2] = 17;
    EXPECT_EQ(WordsOf(record), want);

    int addr = 0x0042;
    CDestAddrDlg dest(&addr, nullptr);
    EXPECT_EQ(ShowModalAndType(dest, CDestAddrDlg::ID_ADDRESS, "BEEF", WXK_ESCAPE, &focus), wxID_CANCEL);
    EXPECT_EQ(focus, dest.FindWindow(wxID_OK));
    EXPECT_EQ(addr, 0x0042);
}

} // namespace
