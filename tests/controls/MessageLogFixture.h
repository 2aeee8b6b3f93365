#pragma once

#include "tests/support/GuiTesting.h"

#include "controls/MessageLogCtrl.h"

#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/uiaction.h>

#include <string>

// A frame with the control as the main window makes it (five columns, client edge) and
// a button after it in the tab order. The control's page is ten whole rows.
class MessageLogTest : public testing::Test {
protected:
    static constexpr int kPage = 10;

    void SetUp() override
    {
        m_frame = new wxFrame(nullptr, wxID_ANY, "Message Log test", wxPoint(0, 0), wxSize(700, 500));
        auto* panel = new wxPanel(m_frame);
        m_log = new CMessageLogCtrl(panel, wxID_ANY, wxPoint(10, 10), wxSize(400, 200), wxBORDER_SUNKEN | wxVSCROLL);
        m_next = new wxButton(panel, wxID_ANY, "Next", wxPoint(500, 10));
        const std::pair<const char*, int> columns[] = {{"Time", 80}, {"Dir", 30}, {"Addr", 50}, {"Message", 140}, {"Payload", 0}};
        for (int i = 0; i < 5; ++i)
            m_log->InsertColumn(columns[i].first, columns[i].second, i);
        m_frame->Show();
        ASSERT_TRUE(PumpUntil([this] { return m_log->IsShownOnScreen(); }));
        const int height = CMessageLogCtrl::kHeaderHeight + kPage * m_log->GetRowHeight() + 3;
        m_log->SetClientSize(400, height);
        ASSERT_TRUE(PumpUntil([&] { return m_log->GetClientSize().y == height; }));
        ASSERT_EQ(m_log->GetRowsPerPage(), kPage);
        PumpFor(300);
    }

    void TearDown() override
    {
        m_frame->Destroy();
        PumpFor(20);
    }

    void Append(int n)
    {
        for (int i = 0; i < n; ++i) {
            const int row = m_log->GetRowCount();
            const std::string text = "10:00:00.100\t|-->|\t0x" + std::to_string(1000 + row) + "\tREF_REQ   \t01 02 03";
            ASSERT_EQ(m_log->InsertRow(text.c_str(), -1), row);
        }
    }

    void Scroll(wxEventType type, int orient, int pos = 0)
    {
        wxScrollWinEvent event(type, pos, orient);
        event.SetEventObject(m_log);
        m_log->GetEventHandler()->ProcessEvent(event);
    }

    // True when the control consumed the key, as the main window would then never see it.
    bool Key(int code)
    {
        wxKeyEvent event(wxEVT_KEY_DOWN);
        event.m_keyCode = code;
        event.SetEventObject(m_log);
        return m_log->GetEventHandler()->ProcessEvent(event);
    }

    // Screen point of the middle of a visible row.
    wxPoint RowPoint(int pageRow) const
    {
        const int h = m_log->GetRowHeight();
        return m_log->ClientToScreen(wxPoint(200, CMessageLogCtrl::kHeaderHeight + pageRow * h + h / 2));
    }

    void Click(const wxPoint& screen, int button = wxMOUSE_BTN_LEFT)
    {
        wxUIActionSimulator sim;
        sim.MouseMove(screen);
        PumpFor(30);
        sim.MouseClick(button);
        PumpFor(60);
    }

    void Press(int key)
    {
        wxUIActionSimulator().Char(key);
        PumpFor(60);
    }

    wxFrame* m_frame = nullptr;
    CMessageLogCtrl* m_log = nullptr;
    wxButton* m_next = nullptr;
};
