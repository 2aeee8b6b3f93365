// The six message buttons and "Show parameters" against the simulator: every frame is
// compared byte for byte with what the simulator received.

#include "tests/nodecmds/CommandRig.h"

#include <wx/button.h>
#include <wx/checkbox.h>

using NodeCommandsTest = CommandRig;

TEST_F(NodeCommandsTest, FirstRunSendsTheZeroDefaultsUntoldAndThenRemembersThem)
{
    ASSERT_TRUE(StartSimulator());
    OpenWindow();
    EXPECT_FALSE(m_dlg->m_showParameters->GetValue());
    ASSERT_TRUE(StartCapture());

    // Nothing stored: to 0x0000, every parameter 0, minimum reference nodes included,
    // and no dialog checks them.
    EXPECT_EQ(FrameOf(m_dlg->m_refConfReq), "02 00 18 07 CB 00 00 CA 17 00 00 09");
    EXPECT_EQ(FrameOf(m_dlg->m_blindConf), "02 00 18 12 CB 00 00 CA 16 00 0B 00 00 00 00 00 00 00 00 00 00 00 16");

    // The sends saved the whole record: every value exists now, as the defaults.
    EXPECT_EQ(StoredSettings(), (Texts{"chkParam=0x0", "chkBroadcast=0x0", "destAddrRefN=0x0", "xPos=0x0",
                                       "yPos=0x0", "destAddrBlindN=0x0", "A=0x0", "nIndex=0x0", "mode=0x0",
                                       "collectTime=0x0", "cycleTime=0x0", "reportShortAddr=0x0",
                                       "reportEndpoint=0x0", "minRefNodes=0x0", "appendToLogFile=0x0",
                                       "strLogFile=Tessarin.log"}));
}

TEST_F(NodeCommandsTest, DialogValuesAreSentAndSavedAndTheTickOutlivesARestart)
{
    ASSERT_TRUE(StartSimulator());
    OpenWindow();
    // A real click on the check box saves its state at once.
    Click(m_dlg->m_showParameters);
    ASSERT_TRUE(m_dlg->m_showParameters->GetValue());
    EXPECT_EQ(StoredSettings()[0], "chkParam=0x1");
    ASSERT_TRUE(StartCapture());

    std::string frame;
    wxTEST_DIALOG(frame = FrameOf(m_dlg->m_refConf),
                  wxExpectModal<CMsgParamDlg>({{1016, "1234"}, {1014, "10"}, {1015, "10,5"}}));
    EXPECT_EQ(frame, "02 00 18 0B CB 34 12 CA 15 00 04 28 00 2A 00 27");
    wxTEST_DIALOG(frame = FrameOf(m_dlg->m_blindConf),
                  wxExpectModal<CMsgParamDlg>({{1017, "0203"}, {1018, "45"}, {1019, "25"}, {1020, "1"}, {1021, "20"},
                                               {1022, "50"}, {1023, "1a2b"}, {1024, "7"}, {1025, "3"}}));
    EXPECT_EQ(frame, "02 00 18 12 CB 03 02 CA 16 00 0B 2D 19 01 14 00 32 00 2B 1A 07 03 31");
    // What the user types in a request's dialog replaces its kind's stored destination.
    wxTEST_DIALOG(frame = FrameOf(m_dlg->m_refConfReq), wxExpectModal<CDestAddrDlg>({{1039, "0x0101"}}));
    EXPECT_EQ(frame, "02 00 18 07 CB 01 01 CA 17 00 00 09");
    wxTEST_DIALOG(frame = FrameOf(m_dlg->m_blindConfReq), wxExpectModal<CDestAddrDlg>({{1039, "202"}}));
    EXPECT_EQ(frame, "02 00 18 07 CB 02 02 CA 18 00 00 06");
    EXPECT_EQ(StoredSettings(), (Texts{"chkParam=0x1", "chkBroadcast=0x0", "destAddrRefN=0x101", "xPos=0x28",
                                       "yPos=0x2A", "destAddrBlindN=0x202", "A=0x2D", "nIndex=0x19", "mode=0x1",
                                       "collectTime=0x14", "cycleTime=0x32", "reportShortAddr=0x1A2B",
                                       "reportEndpoint=0x7", "minRefNodes=0x3", "appendToLogFile=0x0",
                                       "strLogFile=Tessarin.log"}));

    // After a restart the box is still ticked; clearing it is saved at once too, and
    // outlives a restart as well.
    m_dlg->OnStopCapture();
    Restart();
    EXPECT_TRUE(m_dlg->m_showParameters->GetValue());
    Click(m_dlg->m_showParameters);
    EXPECT_EQ(StoredSettings()[0], "chkParam=0x0");
    Restart();
    EXPECT_FALSE(m_dlg->m_showParameters->GetValue());
}

TEST_F(NodeCommandsTest, APickedNodeIsEveryUnicastsDestinationUntilTheDongleIsPickedOrTheListCleared)
{
    StoreSettings([](CTessarinSettings& s) {
        s.m_nDestAddrRefN = 0x0101;
        s.m_nDestAddrBlindN = 0x0201;
        s.m_nXPos = 40;
        s.m_nYPos = 42;
        s.m_nA = 45;
        s.m_nIndex = 25;
        s.m_nMode = 1;
        s.m_nCollectTime = 20;
        s.m_nCycleTime = 50;
        s.m_nReportShortAddr = 0x1A2B;
        s.m_nReportEndpoint = 7;
        s.m_nMinRefNodes = 3;
    });
    ASSERT_TRUE(StartSimulator());
    OpenWindow();
    ASSERT_TRUE(StartCapture());
    // The network answers the broadcasts and fills the Node List.
    Click(m_dlg->m_xyRssiReq);
    Click(m_dlg->m_blindFindReq);
    for (const char* node : {"0x0000 COORD ", "0x0103 REF   ", "0x0202 BLIND "})
        ASSERT_TRUE(WaitForNode(node)) << node;

    DoubleClickNode("0x0202 BLIND ");
    ASSERT_EQ(m_dlg->m_nSelectedNode, 0x0202);
    const std::pair<wxButton*, const char*> sends[] = {
        {m_dlg->m_refConfReq, "02 00 18 07 CB 02 02 CA 17 00 00 09"},
        {m_dlg->m_refConf, "02 00 18 0B CB 02 02 CA 15 00 04 28 00 2A 00 01"},
        {m_dlg->m_blindConfReq, "02 00 18 07 CB 02 02 CA 18 00 00 06"},
        {m_dlg->m_blindConf, "02 00 18 12 CB 02 02 CA 16 00 0B 2D 19 01 14 00 32 00 2B 1A 07 03 30"},
    };
    for (const auto& [button, frame] : sends)
        EXPECT_EQ(FrameOf(button), frame) << button->GetLabel();
    // A blind node's address is saved as the reference destination too, as it was sent.
    const Texts stored = StoredSettings();
    EXPECT_EQ(stored[2], "destAddrRefN=0x202");
    EXPECT_EQ(stored[5], "destAddrBlindN=0x202");

    DoubleClickNode("0x0103 REF   ");
    ASSERT_EQ(m_dlg->m_nSelectedNode, 0x0103);
    Click(m_dlg->m_showParameters);
    // Broadcasts go to every node whatever is picked, ticked or stored, open no dialog
    // and change no setting.
    const Texts before = StoredSettings();
    EXPECT_EQ(FrameOf(m_dlg->m_xyRssiReq), "02 00 18 07 CB FF FF CA 11 00 00 0F");
    EXPECT_EQ(FrameOf(m_dlg->m_blindFindReq), "02 00 18 07 CB FF FF CA 13 00 00 0D");
    EXPECT_EQ(StoredSettings(), before);

    // With "Show parameters" the dialog offers the picked node.
    const size_t count = Frames().size();
    EXPECT_EQ(Offered<CDestAddrDlg>([&] { Click(m_dlg->m_refConfReq); }, {1039}, wxID_OK), Texts{"1039=0103"});
    EXPECT_EQ(FrameAfter(count), "02 00 18 07 CB 03 01 CA 17 00 00 0B");
    EXPECT_EQ(StoredSettings()[2], "destAddrRefN=0x103");

    // The dongle's own entry carries 0: the stored destinations apply again.
    DoubleClickNode("0x0000 COORD ");
    EXPECT_EQ(m_dlg->m_nSelectedNode, 0);
    EXPECT_EQ(Offered<CDestAddrDlg>([&] { Click(m_dlg->m_blindConfReq); }, {1039}), Texts{"1039=0202"});

    // So they do after Clear.
    DoubleClickNode("0x0105 REF   ");
    ASSERT_EQ(m_dlg->m_nSelectedNode, 0x0105);
    m_dlg->OnClearLog();
    EXPECT_EQ(m_dlg->m_nSelectedNode, 0);
    EXPECT_EQ(Offered<CMsgParamDlg>([&] { Click(m_dlg->m_refConf); }, {1016, 1014, 1015}),
              (Texts{"1016=0103", "1014=10.00", "1015=10.50"}));
    PumpFor(200);
    EXPECT_EQ(Frames().size(), count + 1);
}

TEST_F(NodeCommandsTest, ACancelARefusedDialogOrAFailedSendSavesNothing)
{
    StoreSettings([this](CTessarinSettings& s) {
        s.m_nChkParam = 1;
        s.m_nDestAddrRefN = 0x0101;
        s.m_nXPos = 40;
        s.m_nYPos = 42;
        s.m_nDestAddrBlindN = 0x0201;
        s.m_nA = 45;
        s.m_nMinRefNodes = 3;
        s.m_nAppendToLogFile = 1;
        ASSERT_TRUE(s.SetLogFile(Folder("capture.log").c_str()));
    });
    const Texts stored = StoredSettings();
    ASSERT_TRUE(StartSimulator());
    OpenWindow();
    ASSERT_TRUE(m_dlg->m_showParameters->GetValue());

    // No capture: broadcasts go nowhere and say nothing; the values typed were valid,
    // the send fails silently, nothing is kept.
    m_dlg->OnXyRssiReq();
    m_dlg->OnBlindFindReq();
    wxTEST_DIALOG(m_dlg->OnRefConf(), wxExpectModal<CMsgParamDlg>({{1016, "0105"}, {1014, "1"}, {1015, "2"}}));
    wxTEST_DIALOG(m_dlg->OnBlindConfReq(), wxExpectModal<CDestAddrDlg>({{1039, "0203"}}));
    EXPECT_EQ(StoredSettings(), stored);
    EXPECT_TRUE(Frames().empty());

    ASSERT_TRUE(StartCapture());
    const size_t count = Frames().size();
    wxTEST_DIALOG(Click(m_dlg->m_refConf), wxExpectModal<CMsgParamDlg>({{1016, "0105"}}, wxID_CANCEL));
    wxTEST_DIALOG(Click(m_dlg->m_blindConfReq), wxExpectModal<CDestAddrDlg>({{1039, "0203"}}, wxID_CANCEL));
    // A value the dialog refuses, and a user who then gives up.
    wxTEST_DIALOG(Click(m_dlg->m_blindConf), wxExpectModal<CMsgParamDlg>({{1025, "0"}}),
                  ExpectMessageBox("Invalid Minimum of reference nodes!",
                                   "The Minimum reference nodes should be between 1 and 8"));
    wxTEST_DIALOG(Click(m_dlg->m_refConfReq), wxExpectModal<CDestAddrDlg>({{1039, "10000"}}),
                  ExpectMessageBox("Invalid Destination Address!", "Give a hex value between 0x0000 and 0xFFFF"));
    PumpFor(300);
    EXPECT_EQ(Frames().size(), count);
    EXPECT_EQ(StoredSettings(), stored);

    // The dongle unplugged mid-capture: the frame cannot be written and the values typed
    // are lost.
    m_sim.Kill();
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->m_link.IsDeviceGone(); }));
    wxTEST_DIALOG(Click(m_dlg->m_refConf), wxExpectModal<CMsgParamDlg>({{1014, "3"}}));
    wxTEST_DIALOG(Click(m_dlg->m_blindConf), wxExpectModal<CMsgParamDlg>({{1018, "46"}}));
    EXPECT_EQ(StoredSettings(), stored);
}
