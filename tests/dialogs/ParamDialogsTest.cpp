// The two parameter dialogs, shown modeless so that the focus can be watched: what the
// input rules alone cannot show (the form, greyed rows, focus, when the record changes).
// The destination dialog's refusals are seen through the node commands.

#include "tests/support/GuiTesting.h"

#include <wx/textctrl.h>

#include <algorithm>
#include <vector>

#include "commands/InputRules.h"
#include "commands/MsgParamDlg.h"

namespace {

using Words = std::vector<uint32_t>;

TEST(ParamDialogs, ShowTheirModeGreyTheOtherAndStoreOnlyWhenEveryFieldIsValid)
{
    // Words 4 to 9 belong to no reference field: they must neither show nor change.
    const Words ref = {MSG_REF_NODE_CONF, 0xFFFF, 41, 65535, 1004, 1005, 1006, 1007, 1008, 1009};
    const Words blind = {MSG_BLIND_NODE_CONF, 0x1A2B, 255, 0, 1, 65535, 12, 0x00FF, 0, 8};
    const char* const shown[2][9] = {{"1A2B", "255", "0", "1", "65535", "12", "00FF", "0", "8"},
                                     {"FFFF", "10.25", "16383.75"}};
    const struct {
        unsigned mode;   // any but the reference mode is the blind one
        std::vector<std::pair<int, const char*>> edits;
        int invalid;   // the first invalid field of the mode, -1 when all are valid
        Words after;
    } cases[] = {
        {1,
         {{1016, "0x00c3"}, {1014, "10,5"}, {1015, "7"}, {1017, "zz"}, {1025, "99"}},
         -1,
         {MSG_REF_NODE_CONF, 0xC3, 42, 28, 1004, 1005, 1006, 1007, 1008, 1009}},
        {0,
         {{1017, "ffff"},
          {1018, "12ab"},
          {1019, "+0"},
          {1020, "0"},
          {1021, "600"},
          {1022, "0"},
          {1023, "1A2Bxyz"},
          {1024, "255"},
          {1025, "1"},
          {1016, "not a number"},
          {1014, "-3"}},
         -1,
         {MSG_BLIND_NODE_CONF, 0xFFFF, 12, 0, 0, 600, 0, 0x1A2B, 255, 1}},
        // Valid edits before the first invalid field, and a later one invalid too.
        {1, {{1016, "1"}, {1014, "16383.8"}, {1015, ""}}, 1, ref},
        {7, {{1017, "1"}, {1018, "1"}, {1020, "1"}, {1021, "65536"}, {1025, "9"}}, 4, blind},
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
        // Every control inside the form (its size is checked with the node commands), and
        // OK the default button.
        EXPECT_EQ(dlg.GetDefaultItem(), dlg.FindWindow(wxID_OK));
        for (wxWindow* child : dlg.GetChildren())
            EXPECT_TRUE(wxRect(dlg.GetClientSize()).Contains(child->GetRect())) << child->GetLabel();
        // The active rows show the record; the other mode's rows are empty and greyed.
        for (const ParamField* fields : {REF_FIELDS, BLIND_FIELDS}) {
            const bool active = (fields == REF_FIELDS) == isRef;
            for (int i = 0; i < (fields == REF_FIELDS ? REF_FIELD_COUNT : BLIND_FIELD_COUNT); ++i) {
                auto* edit = wxDynamicCast(dlg.FindWindow(fields[i].editId), wxTextCtrl);
                EXPECT_EQ(edit->IsEnabled() + dlg.FindWindow(fields[i].labelId)->IsEnabled(), active ? 2 : 0)
                    << i;
                EXPECT_EQ(edit->GetValue(), active ? shown[isRef][i] : "") << i;
            }
        }
        for (const auto& [id, text] : c.edits)
            wxDynamicCast(dlg.FindWindow(id), wxTextCtrl)->SetValue(text);
        const ParamField* bad = c.invalid < 0 ? nullptr : &(isRef ? REF_FIELDS : BLIND_FIELDS)[c.invalid];
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
