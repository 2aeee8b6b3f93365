#pragma once

#include <wx/font.h>
#include <wx/popupwin.h>
#include <wx/timer.h>

#include <cstddef>
#include <functional>
#include <vector>

class wxMouseEvent;
class wxPaintEvent;
class wxSysColourChangedEvent;

// The hover-help pop-up: a frameless, top-most window with a 1-pixel border on the
// info-background colour. ShowTip lays a multi-line text out and shows it 750 ms later,
// beside the cursor, if the cursor has not moved. The main window decides where the
// mouse is and which text belongs there; the tip keeps the hover state it reports.
// Every operation belongs to the user-interface thread.
class CToolTipCtrlEx : public wxPopupWindow {
public:
    static constexpr int kDelayMs = 750;
    static constexpr size_t kTextSize = 8192;

    // One laid-out line: text[begin, end).
    struct TipLine {
        size_t begin;
        size_t end;
    };

    CToolTipCtrlEx();
    ~CToolTipCtrlEx() override;

    CToolTipCtrlEx(const CToolTipCtrlEx&) = delete;
    CToolTipCtrlEx& operator=(const CToolTipCtrlEx&) = delete;

    // Creates the hidden window, owned by `owner`. False when the window cannot be made.
    bool Create(wxWindow* owner);

    // Lays `text` out for `control` (unless the tip already holds control's text) and
    // restarts the delay; x, y is the cursor's screen position. A text longer than
    // 8191 bytes is cut at a character boundary.
    void ShowTip(wxWindow* control, int x, int y, const char* text, int wrapWidth);
    // Hides the tip and cancels a pending one.
    void HideTip();

    // True between ShowTip and the end of the delay.
    bool IsPending() const { return m_timer.IsRunning(); }
    const char* GetText() const { return m_szText; }
    const std::vector<TipLine>& GetLines() const { return m_lines; }
    // The area inside the 1-pixel frame, which placement keeps on the screen.
    wxSize GetTipClientSize() const { return GetSize() - wxSize(2, 2); }

    // Where the tip goes for a cursor at anchor: 20 pixels right of and below it, kept
    // inside the screen by the tip's client size (above the cursor near the bottom).
    static wxPoint PlaceTip(const wxPoint& anchor, const wxSize& clientSize, const wxSize& screenSize);

    // Breaks text into lines at each line break and wherever the next word would pass
    // wrapWidth - 1 pixels (a word wider than that keeps a line of its own). measure
    // gives the width of text[0, length). Returns the widest line's width.
    static int WrapText(const char* text, int wrapWidth,
                        const std::function<int(const char*, size_t)>& measure, std::vector<TipLine>* lines);

    // The child the pointer was last seen over (the one whose text the tip holds after
    // ShowTip); null at first.
    wxWindow* GetControl() const { return m_pControl; }
    void SetControl(wxWindow* control) { m_pControl = control; }
    // No tip appears over this window until the pointer leaves it; null lifts it.
    void Suppress(wxWindow* window) { m_pSuppressed = window; }
    wxWindow* GetSuppressed() const { return m_pSuppressed; }
    // Watches for the pointer leaving child, unless a watch already runs.
    void TrackLeave(wxWindow* child);
    // Ends the watch, and the suppression with it, once the pointer is over another
    // window than the watched one (null: outside the owner).
    void CheckLeave(const wxWindow* under);

protected:
    // The end of the delay: shows the tip when the cursor still rests at the anchor.
    void OnTimer(wxTimerEvent& event);
    // Where the cursor is, in screen coordinates; tests put it where they want it.
    virtual wxPoint GetCursorScreenPos() const;

private:
    void OnPaint(wxPaintEvent& event);
    void OnSysColorChange(wxSysColourChangedEvent& event);
    void OnMouseMove(wxMouseEvent& event);
    void OnMouseDown(wxMouseEvent& event);
    void ForwardMouse(wxMouseEvent& event, wxEventType type);
    // 1 when the toolkit left the frame to be drawn inside the client area, else 0.
    int FrameInClient() const;

    wxTimer m_timer;
    std::vector<TipLine> m_lines;
    int m_nLineHeight = 0;
    wxFont m_font;
    char m_szText[kTextSize];
    wxWindow* m_pOwner = nullptr;
    wxWindow* m_pControl = nullptr;
    wxWindow* m_pSuppressed = nullptr;
    wxPoint m_ptAnchor;   // the cursor's screen position when the tip was asked for
    wxWindow* m_pTrackedChild = nullptr;
    bool m_bTracking = false;

    wxDECLARE_EVENT_TABLE();
};
