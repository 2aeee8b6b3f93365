// The six node messages and the log-file options, from the window to the simulator's
// record of every frame it received; dialogs answered through the modal test hook.

#include "tests/live/LiveWindow.h"

#include <wx/checkbox.h>
#include <wx/filedlg.h>
#include <wx/menu.h>
#include <wx/textctrl.h>
#include <wx/tokenzr.h>

#include "app/settings/PublishSettings.h"
#include "tests/support/TestStore.h"

namespace {

const char* const PARAMS = "Message Parameters";
const char* const DEST = "Destination Address";

// The text control named by "id=text".
wxTextCtrl* Edit(wxWindow* dlg, const wxString& field)
{
    return wxDynamicCast(dlg->FindWindow(wxAtoi(field.BeforeFirst('='))), wxTextCtrl);
}

// The dialog of this title: checks its form and the texts offered, types the edits
// ("id=text ...") and presses OK; a refused OK ends as Cancel, as a user who gives up.
// Without a title no dialog may open.
struct Answer : wxExpectModalBase<wxDialog, Answer> {
    explicit Answer(const char* title, const char* edits = "", const char* offered = "")
        : m_title(title), m_edits(edits), m_offered(offered)
    {
        m_isOptional = !title;
    }
    int OnInvoked(wxDialog* dlg) const override
    {
        if (!m_title || dlg->GetTitle() != m_title)
            return wxID_NONE;
        // The form, in dialog units, holds every control.
        EXPECT_EQ(dlg->GetClientSize(),
                  dlg->ConvertDialogToPixels(m_title == PARAMS ? wxSize(304, 255) : wxSize(124, 66)));
        for (wxWindow* child : dlg->GetChildren())
            EXPECT_TRUE(wxRect(dlg->GetClientSize()).Contains(child->GetRect())) << child->GetLabel();
        for (const wxString& field : wxStringTokenize(m_offered, " "))
            EXPECT_EQ(Edit(dlg, field)->GetValue(), field.AfterFirst('=')) << field;
        for (const wxString& field : wxStringTokenize(m_edits, " "))
            Edit(dlg, field)->SetValue(field.AfterFirst('='));
        Press(dlg->FindWindow(wxID_OK));
        return dlg->GetReturnCode() == wxID_OK ? wxID_OK : wxID_CANCEL;
    }

    const char *m_title, *m_edits, *m_offered;
};

// The log file's chooser (saving kind, asks before replacing), answered
// with a path set as if picked, or with nothing.
struct Chooser : wxExpectModalBase<wxFileDialog, Chooser> {
    explicit Chooser(const wxString& path, int answer = wxID_OK) : m_path(path), m_answer(answer) {}
    int OnInvoked(wxFileDialog* dlg) const override
    {
        EXPECT_EQ(dlg->GetWindowStyle() & (wxFD_SAVE | wxFD_OVERWRITE_PROMPT),
                  wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
        if (!m_path.empty()) {
            // This toolkit's chooser reports a path only while it is on screen.
            dlg->Show();
            EXPECT_TRUE(PumpUntil([dlg] { return dlg->IsShownOnScreen(); }));
            dlg->SetPath(m_path);
            EXPECT_TRUE(PumpUntil([&] { return dlg->GetPath() == m_path; })) << dlg->GetPath();
            dlg->Hide();
        }
        return m_answer;
    }

    wxString m_path;
    int m_answer;
};

Texts Stored()
{
    CTessarinSettings settings;
    settings.Load();
    return SettingsTexts(settings);
}

size_t CountLines(const std::string& file, const std::string& part)
{
    const Texts l = ReadLines(file);
    return size_t(
        std::count_if(l.begin(), l.end(), [&](auto& line) { return line.find(part) != line.npos; }));
}

// Settings and COM links of the test's own, the simulator recording, the window.
struct NodeCommands : testing::Test {
    bool StartCapture()
    {
        Press(ToolBar(*m_dlg), ID_START_CAPTURE);
        return PumpUntil([&] { return m_dlg->GetLink().GetDongleInfo(nullptr, nullptr); }, 5000);
    }

    CTestStore m_store;
    CScratchFolder m_folder{"nodecmds"};
    const std::string m_record = m_folder / "record";
    CSimProcess m_sim;
    bool m_simStarted = m_sim.Start({"--com", "21", "--quiet", "--record", m_record});
    std::unique_ptr<CTessarinDlg> m_dlg = OpenWindow(m_folder / "capture.log");
};
using LogFileOptions = NodeCommands;

TEST_F(NodeCommands, EachMessageSendsItsFrameToThePickedOrStoredNodeAndKeepsWhatItSent)
{
    ASSERT_TRUE(m_simStarted && StartCapture());
    m_dlg->GetLink().AddLine(LogLineAt(false, 0x0202, "BLIND_RSP").c_str());
    m_dlg->GetLink().AddLine(LogLineAt(false, 0x0103, "REF_RSP").c_str());
    ASSERT_TRUE(PumpUntil([&] { return NodeList(*m_dlg)->GetCount() == 3; }));
    const struct {
        wxWindow* button;
        const char* dialog;   // opened as "Show parameters" is ticked (from the third on)
        const char *edits, *offered;
        const char* frame;                                   // empty when nothing may be sent
        const char* pick = nullptr;                          // the Node List entry double-clicked first
        const char *caption = nullptr, *refusal = nullptr;   // the box of a refused edit
    } cases[] = {
        {Child(*m_dlg, IDC_REF_CONF_REQ), nullptr, "", "", "02 00 18 07 CB 00 00 CA 17 00 00 09"},
        {Child(*m_dlg, IDC_BLIND_CONF), nullptr, "", "",
         "02 00 18 12 CB 00 00 CA 16 00 0B 00 00 00 00 00 00 00 00 00 00 00 16"},
        {Child(*m_dlg, IDC_REF_CONF), PARAMS, "1016=1234 1014=10 1015=10,5", "",
         "02 00 18 0B CB 34 12 CA 15 00 04 28 00 2A 00 27"},
        {Child(*m_dlg, IDC_BLIND_CONF), PARAMS,
         "1017=0203 1018=45 1019=25 1020=1 1021=20 1022=50 1023=1a2b 1024=7 1025=3", "",
         "02 00 18 12 CB 03 02 CA 16 00 0B 2D 19 01 14 00 32 00 2B 1A 07 03 31"},
        {Child(*m_dlg, IDC_REF_CONF_REQ), DEST, "1039=0x0101", "", "02 00 18 07 CB 01 01 CA 17 00 00 09"},
        {Child(*m_dlg, IDC_BLIND_CONF_REQ), DEST, "1039=202", "", "02 00 18 07 CB 02 02 CA 18 00 00 06"},
        {Child(*m_dlg, IDC_XY_RSSI_REQ), nullptr, "", "", "02 00 18 07 CB FF FF CA 11 00 00 0F"},
        {Child(*m_dlg, IDC_REF_CONF_REQ), DEST, "", "1039=0103", "02 00 18 07 CB 03 01 CA 17 00 00 0B",
         "0x0103"},
        {Child(*m_dlg, IDC_REF_CONF), PARAMS, "", "1016=0202 1014=10.00",
         "02 00 18 0B CB 02 02 CA 15 00 04 28 00 2A 00 01", "0x0202"},
        {Child(*m_dlg, IDC_BLIND_FIND_REQ), nullptr, "", "", "02 00 18 07 CB FF FF CA 13 00 00 0D"},
        // The dongle's entry carries 0: the stored destination again.
        {Child(*m_dlg, IDC_BLIND_CONF_REQ), DEST, "1039=10000", "1039=0202", "", "0x0000",
         "Invalid Destination Address!", "Give a hex value between 0x0000 and 0xFFFF"},
        {Child(*m_dlg, IDC_BLIND_CONF), PARAMS, "1018=1 1025=0", "", "", nullptr,
         "Invalid Minimum of reference nodes!", "The Minimum reference nodes should be between 1 and 8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        c.pick ? PickNode(*m_dlg, c.pick) : void();
        Child<wxCheckBox>(*m_dlg, IDC_SHOW_PARAMETERS)->SetValue(&c - cases >= 2);   // ticked as a user does
        wxCommandEvent tick(wxEVT_CHECKBOX, IDC_SHOW_PARAMETERS);
        Child<wxCheckBox>(*m_dlg, IDC_SHOW_PARAMETERS)->ProcessWindowEvent(tick);
        const size_t count = ReadLines(m_record).size();
        const ExpectMessageBox box(c.caption ? c.caption : "", c.refusal ? c.refusal : "");
        wxTEST_DIALOG(Press(c.button), Answer(c.dialog, c.edits, c.offered),
                      c.caption ? box : box.Optional());
        Texts frames;
        PumpUntil([&] { return (frames = ReadLines(m_record)).size() > count; }, 1000);
        EXPECT_EQ(frames.size() > count ? frames[count] : "", c.frame);
    }
    // Each kind keeps the destination and the values it sent last, a blind node's address
    // as the reference destination too; the tick is kept as it is made.
    const auto stored = [] {
        std::string all;
        for (const std::string& text : Stored())
            all += text + ' ';
        return all;
    };
    const std::string sent =
        "chkParam=0x1 chkBroadcast=0x0 destAddrRefN=0x202 xPos=0x28 yPos=0x2A destAddrBlindN=0x202 A=0x2D "
        "nIndex=0x19 mode=0x1 collectTime=0x14 cycleTime=0x32 reportShortAddr=0x1A2B reportEndpoint=0x7 "
        "minRefNodes=0x3 appendToLogFile=0x0 strLogFile=" +
        m_dlg->GetLogFile() + ' ';
    EXPECT_EQ(stored(), sent);
    // Unplugged, the frame cannot be written: the user is told at once, nothing is kept.
    m_sim.Kill();
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->GetLink().IsDeviceGone(); }));
    wxTEST_DIALOG(Press(Child(*m_dlg, IDC_REF_CONF)), Answer(PARAMS, "1014=3", "1015=10.50"),
                  ExpectMessageBox(CTessarinDlg::AppTitle(), "Not able to send REF_NODE_CONF!", m_dlg.get()));
    EXPECT_EQ(stored(), sent);
}

TEST_F(LogFileOptions, TheChosenNameAndAppendModeAreStoredAndTakenByTheNextCapture)
{
    const std::string first = m_folder / "first.log", second = m_folder / "second.log",
                      kept = m_folder / "kept.log";
    ASSERT_TRUE(m_simStarted);
    wxTEST_DIALOG(m_dlg->OnLogFile(), Chooser(first));
    EXPECT_EQ(Stored()[15], "strLogFile=" + first);
    ASSERT_TRUE(StartCapture());
    // A bare name gets ".log"; the running capture keeps its file.
    wxTEST_DIALOG(m_dlg->OnLogFile(), Chooser(m_folder / "second"));
    EXPECT_EQ(m_dlg->GetLogFile(), second);
    Press(Child(*m_dlg, IDC_XY_RSSI_REQ));
    Press(ToolBar(*m_dlg), ID_STOP_CAPTURE);
    EXPECT_EQ(CountLines(first, "XY_RSSI_REQ"), 1u);

    // The log file then holds this capture's PING and those it was appended to.
    const int item = MenuItemId(ID_APPEND_TO_LOG_FILE);
    const auto captureWithAppend = [&](bool on, size_t pings) {
        wxCommandEvent pick(wxEVT_MENU, item);
        m_dlg->GetMenuBar()->IsChecked(item) != on ? m_dlg->ProcessWindowEvent(pick) : false;
        EXPECT_EQ(Stored()[14] + (m_dlg->GetMenuBar()->IsChecked(item) ? " checked" : ""),
                  on ? "appendToLogFile=0x1 checked" : "appendToLogFile=0x0");
        EXPECT_TRUE(StartCapture());
        Press(ToolBar(*m_dlg), ID_STOP_CAPTURE);
        EXPECT_EQ(CountLines(second, "PING_REQUEST"), pings) << on;
    };
    captureWithAppend(true, 1);
    m_dlg = OpenWindow();
    captureWithAppend(true, 2);
    captureWithAppend(false, 1);

    // When ".log" names an existing file the user is asked first; No asks again.
    WriteText(kept, "old lines\n");
    const auto replace = [&](int answer) {
        return ExpectMessageBox(wxFileSelectorPromptStr,
                                "A file named \"kept.log\" already exists. Do you want to replace it?",
                                m_dlg.get(), wxYES_NO, wxICON_WARNING, answer);
    };
    wxTEST_DIALOG(m_dlg->OnLogFile(), Chooser(m_folder / "kept"), replace(wxID_NO), Chooser("", wxID_CANCEL));
    EXPECT_EQ(Stored()[15], "strLogFile=" + second);
    wxTEST_DIALOG(m_dlg->OnLogFile(), Chooser(m_folder / "kept"), replace(wxID_YES));
    EXPECT_EQ(Stored()[15], "strLogFile=" + kept);
    EXPECT_EQ(ReadFile(kept), "old lines\n");

    // A path longer than the stored field would name another file if cut: it is
    // refused, and the window keeps its name, so that it and the stored name agree.
    const std::string dir = m_folder / "";
    const wxString paths[] = {dir + std::string(257 - dir.size() - 4, 'l') + ".log",
                              dir + wxString(wxUniChar(0xE9), 130) + ".log",   // 260 bytes of the field
                              "",   // the window holds it, and the next start fails on it
                              dir + std::string(256 - dir.size() - 4, 'f') + ".log", m_folder / "third.txt"};
    for (const wxString& path : paths) {
        SCOPED_TRACE(path.utf8_string());
        const bool taken = &path >= &paths[3];
        const ExpectMessageBox refused("Tessarin", "Invalid file name!", m_dlg.get(), wxOK, wxICON_ERROR);
        wxTEST_DIALOG(m_dlg->OnLogFile(), Chooser(path), taken ? refused.Optional() : refused);
        EXPECT_EQ(m_dlg->GetLogFile(), taken || path.empty() ? path.utf8_string() : kept);
        EXPECT_EQ(Stored()[15], "strLogFile=" + (taken ? path.utf8_string() : kept));
    }
    m_dlg = OpenWindow();
    EXPECT_EQ(m_dlg->GetLogFile(), m_folder / "third.txt");
}

}   // namespace

namespace {

// The "Publish to MQTT" dialog: its two check boxes and two texts set, then OK.
struct PublishAnswer : wxExpectModalBase<wxDialog, PublishAnswer> {
    PublishAnswer(bool publish, const char* broker, bool commands)
        : m_publish(publish), m_broker(broker), m_commands(commands)
    {
    }
    int OnInvoked(wxDialog* dlg) const override
    {
        std::vector<wxCheckBox*> boxes;
        std::vector<wxTextCtrl*> texts;
        for (wxWindow* child : dlg->GetChildren()) {
            if (auto* box = wxDynamicCast(child, wxCheckBox))
                boxes.push_back(box);
            if (auto* text = wxDynamicCast(child, wxTextCtrl))
                texts.push_back(text);
        }
        EXPECT_EQ(dlg->GetTitle(), "Publish to MQTT");
        if (boxes.size() != 2 || texts.size() != 2)
            return wxID_CANCEL;
        boxes[0]->SetValue(m_publish);
        texts[0]->SetValue(m_broker);
        texts[1]->SetValue("site/tessarin");
        boxes[1]->SetValue(m_commands);
        return wxID_OK;
    }
    bool m_publish;
    const char* m_broker;
    bool m_commands;
};

}   // namespace

// Chosen in the dialog (a wrong address refused, the dialog kept), stored with the
// settings, shown in the status bar; a command from the broker sends its frame.
TEST_F(NodeCommands, PublishingToABrokerIsChosenStoredShownAndTakesCommands)
{
    const std::string port = std::to_string(FreeLoopbackPort());
    WriteText(m_folder / "broker.conf", "listener " + port + " 127.0.0.1\nallow_anonymous true\nuser root\n");
    CChildProcess broker;
    broker.Start("/usr/sbin/mosquitto", {"-c", m_folder / "broker.conf"}, m_folder / "broker.log");
    const std::string url = "mqtt://127.0.0.1:" + port;
    wxCommandEvent menu(wxEVT_MENU, CMqttPublishing::ID_PUBLISH_MQTT);
    wxTEST_DIALOG(m_dlg->GetEventHandler()->ProcessEvent(menu), PublishAnswer(true, "http://x", true),
                  ExpectMessageBox("Invalid MQTT settings",
                                   "the broker's address begins with mqtt:// or mqtts://", m_dlg.get()),
                  PublishAnswer(true, url.c_str(), true));
    CPublishSettings stored;
    EXPECT_TRUE(stored.Load() && stored.m_bPublish && stored.m_strBroker == url && stored.m_bCommands &&
                stored.m_strTopic == "site/tessarin");
    ASSERT_TRUE(m_simStarted && StartCapture());
    EXPECT_TRUE(PumpUntil(
        [&] { return StatusBar(*m_dlg)->GetStatusText(1) == "MQTT: connected to 127.0.0.1:" + port; }));
    // Sent until the publisher, named anew by the dongle's address, has subscribed again.
    EXPECT_TRUE(PumpUntil(
        [&] {
            RunProgram("/usr/bin/mosquitto_pub",
                       {"-p", port, "-t", "site/tessarin/5453524E44000001/cmd", "-m", "xy"}, "", "");
            return CountLines(m_record, "02 00 18 07 CB FF FF CA 11 00 00 0F") > 0;
        },
        5000));
    wxTEST_DIALOG(m_dlg->GetEventHandler()->ProcessEvent(menu), PublishAnswer(false, url.c_str(), true));
    EXPECT_TRUE(PumpUntil([&] { return StatusBar(*m_dlg)->GetStatusText(1).empty(); }));
    EXPECT_TRUE(stored.Load() && !stored.m_bPublish);
}
