#pragma once

#include <gtest/gtest.h>

#include "controls/MessageLogCtrl.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <chrono>
#include <string>

// Runs pending events until cond() holds; false when it still fails after ms.
template <class Cond> bool PumpUntil(Cond cond, int ms = 3000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        wxTheApp->Yield(true);
        wxTheApp->ProcessIdle();
        wxMilliSleep(5);
    }
    return true;
}

inline void PumpFor(int ms)
{
    PumpUntil([] { return false; }, ms);
}

inline std::string LogRow(int i)
{
    return "10:00:00." + std::to_string(100 + i % 900) + "\t|-->|\t0x" +
           std::to_string(1000 + i) + "\tREF_REQ            \t01 02 03";
}

inline const char* const kTitles[] = {"Time", "Dir", "Addr", "Message", "Payload"};
inline const int kWidths[] = {80, 30, 50, 140, 0};

// A frame with the control as the main window makes it (five columns, client edge)
// and a button after it in the tab order. The control's page is ten whole rows.
class MessageLogTest : public testing::Test
{
protected:
    static constexpr int kPage = 10;

    void SetUp() override
    {
        m_frame = new wxFrame(nullptr, wxID_ANY, "Message Log test", wxPoint(0, 0),
                              wxSize(700, 500));
        m_panel = new wxPanel(m_frame);
        m_log = new CMessageLogCtrl(m_panel, wxID_ANY, wxPoint(10, 10), wxSize(400, 200),
                                    wxBORDER_SUNKEN | wxVSCROLL);
        m_next = new wxButton(m_panel, wxID_ANY, "Next", wxPoint(500, 10));
        for (int i = 0; i < 5; ++i)
            m_log->InsertColumn(kTitles[i], kWidths[i], i);
        m_frame->Show();
        ASSERT_TRUE(PumpUntil([this] { return m_log->IsShownOnScreen(); }));
        SetPage(kPage);
        PumpFor(300);
    }

    void TearDown() override
    {
        m_frame->Destroy();
        PumpFor(20);
    }

    // Sizes the control so that exactly `rows` whole rows fit below the header.
    void SetPage(int rows)
    {
        const int height = CMessageLogCtrl::kHeaderHeight + rows * m_log->GetRowHeight() + 3;
        m_log->SetClientSize(400, height);
        ASSERT_TRUE(PumpUntil([&] { return m_log->GetClientSize().y == height; }));
        ASSERT_EQ(m_log->GetRowsPerPage(), rows);
    }

    void Append(int n)
    {
        for (int i = 0; i < n; ++i)
        {
            const int row = m_log->GetRowCount();
            ASSERT_EQ(m_log->InsertRow(wxString(LogRow(row)), -1), row);
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

    // Screen point of the middle of a visible row, or of any client point.
    wxPoint RowPoint(int pageRow) const
    {
        return m_log->ClientToScreen(wxPoint(
            200, CMessageLogCtrl::kHeaderHeight + pageRow * m_log->GetRowHeight() +
                     m_log->GetRowHeight() / 2));
    }

    void Click(const wxPoint& screen, int button = wxMOUSE_BTN_LEFT)
    {
        wxUIActionSimulator sim;
        sim.MouseMove(screen);
        PumpFor(30);
        sim.MouseClick(button);
        PumpFor(60);
    }

    void Press(int key, int modifiers = wxMOD_NONE)
    {
        wxUIActionSimulator sim;
        sim.Char(key, modifiers);
        PumpFor(60);
    }

    // Gives the control the keyboard focus the way a user does, with a click on a row.
    void FocusByClick(int pageRow)
    {
        Click(RowPoint(pageRow));
        ASSERT_TRUE(PumpUntil([this] { return wxWindow::FindFocus() == m_log; }));
    }

    int TextWidth(const wxString& text) const
    {
        wxClientDC dc(m_log);
        dc.SetFont(m_log->GetFont());
        wxCoord w = 0, h = 0;
        dc.GetMultiLineTextExtent(text, &w, &h);
        return w;
    }

    // Waits for a paint to have measured the visible rows.
    bool PaintedExtent(int extent)
    {
        m_log->Refresh();
        return PumpUntil([&] { return m_log->GetMaxExtent() == extent; });
    }

    wxFrame* m_frame = nullptr;
    wxPanel* m_panel = nullptr;
    CMessageLogCtrl* m_log = nullptr;
    wxButton* m_next = nullptr;
};
