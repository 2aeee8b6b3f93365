#include "tests/dialogs/DialogExpectations.h"

#include "commands/InputRules.h"

#include <wx/stattext.h>
#include <wx/statbox.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <cstring>
#include <vector>

namespace {

using ParamExpect = wxExpectModal<CMsgParamDlg>;
using AddrExpect = wxExpectModal<CDestAddrDlg>;

wxString TextOf(wxWindow* dlg, int id)
{
    auto* edit = wxDynamicCast(dlg->FindWindow(id), wxTextCtrl);
    return edit ? edit->GetValue() : wxString("<no edit control>");
}

DongleMessage BlindRecord()
{
    DongleMessage m;
    const uint32_t words[10] = {MSG_BLIND_NODE_CONF, 0x1A2B, 255, 0, 1, 65535, 12, 0x00FF, 0, 8};
    std::memcpy(m.word, words, sizeof words);
    return m;
}

DongleMessage RefRecord()
{
    DongleMessage m;
    m.word[0] = MSG_REF_NODE_CONF;
    m.word[1] = 0xFFFF;
    m.word[2] = 41;
    m.word[3] = 65535;
    // Words the reference form does not own, which it must neither show nor change.
    for (int i = 4; i < 10; ++i)
        m.word[i] = 1000 + i;
    return m;
}

bool SameRecord(const DongleMessage& a, const DongleMessage& b)
{
    return std::memcmp(a.word, b.word, sizeof a.word) == 0;
}

void ExpectLayout(wxDialog* dlg, int width, int height, const char* caption)
{
    EXPECT_EQ(dlg->GetTitle(), caption);
    EXPECT_EQ(dlg->GetClientSize(), dlg->ConvertDialogToPixels(wxSize(width, height)));
    wxWindow* ok = dlg->FindWindow(wxID_OK);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(dlg->GetDefaultItem(), ok);
    EXPECT_EQ(static_cast<wxButton*>(ok)->GetLabel(), "OK");
    ASSERT_NE(dlg->FindWindow(wxID_CANCEL), nullptr);
    EXPECT_EQ(static_cast<wxButton*>(dlg->FindWindow(wxID_CANCEL))->GetLabel(), "Cancel");
    // Every control lies inside the form.
    for (wxWindow* child : dlg->GetChildren())
        EXPECT_TRUE(wxRect(dlg->GetClientSize()).Contains(child->GetRect()))
            << child->GetLabel() << " at " << child->GetRect().x << "," << child->GetRect().y;
}

// The active rows show the record under their own labels; the other mode's rows are
// empty and greyed out, but still there.
void ExpectRows(wxWindow* dlg, const ParamField* fields, int count, bool active,
                const std::vector<const char*>& labels, const std::vector<const char*>& texts)
{
    for (int i = 0; i < count; ++i) {
        wxWindow* edit = dlg->FindWindow(fields[i].editId);
        auto* label = wxDynamicCast(dlg->FindWindow(fields[i].labelId), wxStaticText);
        ASSERT_TRUE(edit && label) << fields[i].editId;
        EXPECT_EQ(label->GetLabel(), labels[i]);
        EXPECT_EQ(TextOf(dlg, fields[i].editId), active ? texts[i] : "") << fields[i].editId;
        EXPECT_EQ(edit->IsEnabled(), active) << fields[i].editId;
        EXPECT_EQ(label->IsEnabled(), active) << fields[i].editId;
        EXPECT_TRUE(edit->IsShown() && label->IsShown()) << fields[i].editId;
    }
}

TEST(MsgParamDlg, ShowsItsModeAndGreysTheOther)
{
    const std::vector<const char*> refLabels = {"Dest. Addr.: 0x", "X Position:", "Y Position:"};
    const std::vector<const char*> blindLabels = {
        "Dest. Addr.:   0x", "A:", "N:", "Operationg Mode:", "Collect Time:", "Cycle Time:",
        "Rep. Short Address:   0x", "Rep. End Point:", "Min. Ref. Nodes:"};

    for (unsigned mode : {CMsgParamDlg::MODE_REFERENCE, CMsgParamDlg::MODE_BLIND}) {
        const bool reference = mode == CMsgParamDlg::MODE_REFERENCE;
        DongleMessage record = reference ? RefRecord() : BlindRecord();
        CMsgParamDlg dlg(&record, mode, nullptr);
        ExpectLayout(&dlg, 304, 255, "Message Parameters");
        ExpectRows(&dlg, REF_FIELDS, REF_FIELD_COUNT, reference, refLabels,
                   {"FFFF", "10.25", "16383.75"});
        ExpectRows(&dlg, BLIND_FIELDS, BLIND_FIELD_COUNT, !reference, blindLabels,
                   {"1A2B", "255", "0", "1", "65535", "12", "00FF", "0", "8"});
        auto* refBox = wxDynamicCast(dlg.FindWindow(1026), wxStaticBox);
        ASSERT_NE(refBox, nullptr);
        EXPECT_EQ(refBox->GetLabel(), "Reference node configuration");
        EXPECT_TRUE(refBox->IsEnabled());
    }

    // Fresh settings: every word 0.
    DongleMessage fresh;
    CMsgParamDlg blind(&fresh, CMsgParamDlg::MODE_BLIND, nullptr);
    ExpectRows(&blind, BLIND_FIELDS, BLIND_FIELD_COUNT, true, blindLabels,
               {"0000", "0", "0", "0", "0", "0", "0000", "0", "0"});
    CMsgParamDlg ref(&fresh, CMsgParamDlg::MODE_REFERENCE, nullptr);
    ExpectRows(&ref, REF_FIELDS, REF_FIELD_COUNT, true, refLabels, {"0000", "0.00", "0.00"});
}

TEST(MsgParamDlg, OkStoresValuesAndShownValuesComeBackUnchanged)
{
    for (unsigned mode : {CMsgParamDlg::MODE_REFERENCE, CMsgParamDlg::MODE_BLIND}) {
        const DongleMessage before = mode == CMsgParamDlg::MODE_BLIND ? BlindRecord() : RefRecord();
        DongleMessage record = before;
        CMsgParamDlg dlg(&record, mode, nullptr);
        int rc = 0;
        wxTEST_DIALOG(rc = dlg.ShowModal(), ParamExpect());
        EXPECT_EQ(rc, wxID_OK) << "mode " << mode;
        EXPECT_TRUE(SameRecord(record, before)) << "mode " << mode;
    }

    // Edited values, including the other mode's fields holding rubbish that is ignored.
    DongleMessage record = RefRecord();
    CMsgParamDlg ref(&record, CMsgParamDlg::MODE_REFERENCE, nullptr);
    int rc = 0;
    wxTEST_DIALOG(rc = ref.ShowModal(),
                  ParamExpect({{1016, "0x00c3"}, {1014, "10,5"}, {1015, " 7"}, {1017, "zz"},
                               {1025, "99"}, {1020, ""}}));
    EXPECT_EQ(rc, wxID_OK);
    EXPECT_EQ(record.word[0], uint32_t(MSG_REF_NODE_CONF));
    EXPECT_EQ(record.word[1], 0xC3u);
    EXPECT_EQ(record.word[2], 42u);
    EXPECT_EQ(record.word[3], 28u);
    for (int i = 4; i < 10; ++i)
        EXPECT_EQ(record.word[i], uint32_t(1000 + i));

    record = BlindRecord();
    CMsgParamDlg blind(&record, CMsgParamDlg::MODE_BLIND, nullptr);
    wxTEST_DIALOG(rc = blind.ShowModal(),
                  ParamExpect({{1017, "ffff"}, {1018, "12ab"}, {1019, "+0"}, {1020, "0"},
                               {1021, "600"}, {1022, "0"}, {1023, "1A2Bxyz"}, {1024, "255"},
                               {1025, "1"}, {1016, "not a number"}, {1014, "-3"}}));
    EXPECT_EQ(rc, wxID_OK);
    const uint32_t expected[10] = {MSG_BLIND_NODE_CONF, 0xFFFF, 12, 0, 0, 600, 0, 0x1A2B, 255, 1};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(record.word[i], expected[i]) << "word " << i;
}

// Each field of each mode, made invalid while a later field is invalid too: only the
// first is reported, with its own caption and text, the focus goes to it, and the
// record keeps every word though earlier fields were valid and edited.
TEST(MsgParamDlg, FirstInvalidFieldIsReportedAndTakesTheFocus)
{
    struct Case {
        unsigned mode;
        const ParamField& field;
        const char* invalid;
    };
    const Case cases[] = {
        {CMsgParamDlg::MODE_REFERENCE, REF_FIELDS[0], "10000"},
        {CMsgParamDlg::MODE_REFERENCE, REF_FIELDS[1], "16383.8"},
        {CMsgParamDlg::MODE_REFERENCE, REF_FIELDS[2], ""},
        {CMsgParamDlg::MODE_BLIND, BLIND_FIELDS[0], "100000000"},
        {CMsgParamDlg::MODE_BLIND, BLIND_FIELDS[1], "256"},
        {CMsgParamDlg::MODE_BLIND, BLIND_FIELDS[2], "-1"},
        {CMsgParamDlg::MODE_BLIND, BLIND_FIELDS[3], "2"},
        {CMsgParamDlg::MODE_BLIND, BLIND_FIELDS[4], "65536"},
        {CMsgParamDlg::MODE_BLIND, BLIND_FIELDS[5], "99999999999999999999"},
        {CMsgParamDlg::MODE_BLIND, BLIND_FIELDS[6], "G1"},
        {CMsgParamDlg::MODE_BLIND, BLIND_FIELDS[7], "   "},
        {CMsgParamDlg::MODE_BLIND, BLIND_FIELDS[8], "9"},
    };
    for (const Case& c : cases) {
        const bool reference = c.mode == CMsgParamDlg::MODE_REFERENCE;
        const ParamField* fields = reference ? REF_FIELDS : BLIND_FIELDS;
        const int count = reference ? REF_FIELD_COUNT : BLIND_FIELD_COUNT;
        const DongleMessage before = reference ? RefRecord() : BlindRecord();

        // Valid new values before the field, the invalid text in it, and the last field
        // invalid as well unless it is the one under test.
        ParamExpect::Edits edits;
        const int index = static_cast<int>(&c.field - fields);
        for (int i = 0; i < index; ++i) {
            const bool decimal = fields[i].kind == FieldKind::Decimal;
            edits.emplace_back(fields[i].editId, decimal ? "1" : "0001");
        }
        edits.emplace_back(c.field.editId, c.invalid);
        if (index != count - 1)
            edits.emplace_back(fields[count - 1].editId, "junk");

        DongleMessage record = before;
        CMsgParamDlg dlg(&record, c.mode, nullptr);
        int rc = 0;
        const auto stillOpen = [&c](CMsgParamDlg* d) {
            EXPECT_EQ(d->GetReturnCode(), 0) << c.field.caption;
            EXPECT_TRUE(d->IsShown()) << c.field.caption;
            EXPECT_EQ(wxWindow::FindFocus(), d->FindWindow(c.field.editId)) << c.field.caption;
            EXPECT_EQ(TextOf(d, c.field.editId), c.invalid);
        };
        wxTEST_DIALOG(rc = dlg.ShowModal(), ParamExpect(edits, wxID_OK, stillOpen),
                      ExpectMessageBox(c.field.caption, c.field.message, &dlg));
        EXPECT_EQ(rc, wxID_CANCEL) << c.field.caption;
        EXPECT_TRUE(SameRecord(record, before)) << c.field.caption;
    }

    // Fresh settings hold 0 reference nodes, which cannot pass OK unchanged.
    DongleMessage fresh;
    CMsgParamDlg dlg(&fresh, CMsgParamDlg::MODE_BLIND, nullptr);
    wxTEST_DIALOG(dlg.ShowModal(), ParamExpect(),
                  ExpectMessageBox("Invalid Minimum of reference nodes!",
                                   "The Minimum reference nodes should be between 1 and 8", &dlg));
}

TEST(MsgParamDlg, CancelLeavesTheRecordUnchanged)
{
    const DongleMessage before = BlindRecord();
    DongleMessage record = before;
    CMsgParamDlg dlg(&record, CMsgParamDlg::MODE_BLIND, nullptr);
    int rc = 0;
    wxTEST_DIALOG(rc = dlg.ShowModal(),
                  ParamExpect({{1017, "0001"}, {1018, "3"}, {1025, "2"}}, wxID_CANCEL));
    EXPECT_EQ(rc, wxID_CANCEL);
    EXPECT_TRUE(SameRecord(record, before));
}

TEST(DestAddrDlg, ShowsTheAddress)
{
    const std::pair<int, const char*> shown[] = {{1, "0001"}, {0xABCD, "ABCD"}, {0, "0000"}};
    for (const auto& [value, text] : shown) {
        int addr = value;
        CDestAddrDlg dlg(&addr, nullptr);
        EXPECT_EQ(TextOf(&dlg, 1039), text);
        ExpectLayout(&dlg, 124, 66, "Destination Address");
    }
}

TEST(DestAddrDlg, ValidTextsAreStored)
{
    // The reading rules have their own tests; these show the dialog applies them.
    const std::pair<const char*, int> texts[] = {
        {" 0x1a2b ", 0x1A2B}, {"12G", 0x12}, {"0", 0},
    };
    for (const auto& [text, value] : texts) {
        int addr = 0x5555;
        CDestAddrDlg dlg(&addr, nullptr);
        int rc = 0;
        wxTEST_DIALOG(rc = dlg.ShowModal(), AddrExpect({{1039, text}}));
        EXPECT_EQ(rc, wxID_OK) << text;
        EXPECT_EQ(addr, value) << text;
    }
    int addr = 0xABCD;
    CDestAddrDlg dlg(&addr, nullptr);
    int rc = 0;
    wxTEST_DIALOG(rc = dlg.ShowModal(), AddrExpect());
    EXPECT_EQ(rc, wxID_OK);
    EXPECT_EQ(addr, 0xABCD);
}

// A refused address is reported, the dialog stays open with the text as typed, and the
// focus stays where it was (on OK, where it starts); Cancel then keeps the variable.
TEST(DestAddrDlg, InvalidTextsAreReportedAndLeaveTheVariable)
{
    for (const char* text : {"10000", "", "100000000"}) {
        int addr = 0x0042;
        CDestAddrDlg dlg(&addr, nullptr);
        int rc = 0;
        wxTEST_DIALOG(rc = dlg.ShowModal(),
                      AddrExpect({{1039, text}}, wxID_OK,
                                 [text](CDestAddrDlg* d) {
                                     EXPECT_TRUE(d->IsShown()) << text;
                                     EXPECT_EQ(TextOf(d, 1039), text);
                                     EXPECT_EQ(wxWindow::FindFocus(), d->FindWindow(wxID_OK))
                                         << '"' << text << '"';
                                 }),
                      ExpectMessageBox("Invalid Destination Address!",
                                       "Give a hex value between 0x0000 and 0xFFFF", &dlg));
        EXPECT_EQ(rc, wxID_CANCEL) << text;
        EXPECT_EQ(addr, 0x0042) << text;
    }

    int addr = 0x0042;
    CDestAddrDlg dlg(&addr, nullptr);
    int rc = 0;
    wxTEST_DIALOG(rc = dlg.ShowModal(), AddrExpect({{1039, "1234"}}, wxID_CANCEL));
    EXPECT_EQ(rc, wxID_CANCEL);
    EXPECT_EQ(addr, 0x0042);
}

// Runs dlg's real modal loop and, once it is on screen, notes where the focus is, puts
// it on the edit control editId, where a user types, and types key there.
int ShowModalAndType(wxDialog& dlg, int editId, const wxString& text, int key,
                     wxWindow** focusAtStart)
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
    const int rc = dlg.ShowModal();
    type.Stop();
    giveUp.Stop();
    return rc;
}

// The real modal loop with keys typed on the display: the focus starts on OK, Return in
// an edit control presses the default button, Escape cancels.
TEST(ParamDialogs, KeysInTheRealModalLoop)
{
    struct Run {
        int key;
        int expected;
    };
    for (const Run run : {Run{WXK_RETURN, wxID_OK}, Run{WXK_ESCAPE, wxID_CANCEL}}) {
        DongleMessage record = BlindRecord();
        DongleMessage expected = record;
        if (run.expected == wxID_OK)
            expected.word[2] = 17;
        CMsgParamDlg params(&record, CMsgParamDlg::MODE_BLIND, nullptr);
        wxWindow* focus = nullptr;
        EXPECT_EQ(ShowModalAndType(params, 1018, "17", run.key, &focus), run.expected);
        EXPECT_EQ(focus, params.FindWindow(wxID_OK));
        EXPECT_TRUE(SameRecord(record, expected)) << "key " << run.key;

        int addr = 0x0042;
        CDestAddrDlg dest(&addr, nullptr);
        focus = nullptr;
        EXPECT_EQ(ShowModalAndType(dest, 1039, "BEEF", run.key, &focus), run.expected);
        EXPECT_EQ(focus, dest.FindWindow(wxID_OK));
        EXPECT_EQ(addr, run.expected == wxID_OK ? 0xBEEF : 0x0042);
    }
}

} // namespace
