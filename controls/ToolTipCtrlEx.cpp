#include "controls/ToolTipCtrlEx.h"

#include <wx/dcclient.h>
#include <wx/settings.h>
#include <wx/utils.h>

#include <cstring>

#include "res/Resources.h"

// clang-format off
wxBEGIN_EVENT_TABLE(CToolTipCtrlEx, wxPopupWindow)
    EVT_TIMER(ID_TOOLTIP_TIMER, CToolTipCtrlEx::OnTimer)
    EVT_PAINT(CToolTipCtrlEx::OnPaint)
    EVT_SYS_COLOUR_CHANGED(CToolTipCtrlEx::OnSysColorChange)
    EVT_MOTION(CToolTipCtrlEx::OnMouseMove)
    EVT_LEFT_DOWN(CToolTipCtrlEx::OnMouseDown)
    EVT_RIGHT_DOWN(CToolTipCtrlEx::OnMouseDown)
    EVT_MIDDLE_DOWN(CToolTipCtrlEx::OnMouseDown)
wxEND_EVENT_TABLE()
// clang-format on

namespace {
const int kMarginX = 3;   // text to border, left and right
const int kMarginY = 2;   // text to border, top and bottom, less the last pixel row
const int kCursorGap = 20;

// Length of at most `limit` bytes of UTF-8 text that ends on a character boundary.
size_t CutUtf8(const char* text, size_t limit)
{
    size_t length = std::strlen(text);
    if (length <= limit)
        return length;
    length = limit;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return length;
}

}   // namespace

CToolTipCtrlEx::CToolTipCtrlEx()
{
    m_szText[0] = '\0';
    m_timer.SetOwner(this, ID_TOOLTIP_TIMER);
}

CToolTipCtrlEx::~CToolTipCtrlEx()
{
    m_timer.Stop();
}

bool CToolTipCtrlEx::Create(wxWindow* owner)
{
    m_pOwner = owner;
    // The tip's text uses the toolkit's own small UI font: the 8-point face the layout
    // was drawn for does not exist here.
    m_font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    if (!wxPopupWindow::Create(owner, wxBORDER_SIMPLE))
        return false;
    Hide();
    SetFont(m_font);
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_INFOBK));
    return true;
}

int CToolTipCtrlEx::WrapText(const char* text, int wrapWidth,
                             const std::function<int(const char*, size_t)>& measure,
                             std::vector<TipLine>* lines)
{
    lines->clear();
    const int avail = wrapWidth - 1;
    const size_t length = std::strlen(text);
    int widest = 0;

    size_t p = 0;
    while (true) {
        size_t e = p;
        while (e < length && text[e] != '\r' && text[e] != '\n')
            ++e;
        size_t s = p;
        if (s == e)
            lines->push_back({s, s});
        while (s < e) {
            size_t lineEnd = s;
            size_t i = s;
            while (true) {
                size_t j = i;
                while (j < e && text[j] == ' ')
                    ++j;
                size_t k = j;
                while (k < e && text[k] != ' ')
                    ++k;
                if (k == j) {
                    // Only spaces remain: they end the line and are not drawn.
                    if (lineEnd == s)
                        lineEnd = e;
                    break;
                }
                if (lineEnd != s && measure(text + s, k - s) > avail)
                    break;
                lineEnd = k;
                i = k;
            }
            size_t drawnEnd = lineEnd;
            while (drawnEnd > s && text[drawnEnd - 1] == ' ')
                --drawnEnd;
            lines->push_back({s, drawnEnd});
            const int width = measure(text + s, drawnEnd - s);
            if (width > widest)
                widest = width;
            s = lineEnd;
            while (s < e && text[s] == ' ')
                ++s;
        }
        if (e >= length)
            break;
        p = e + ((text[e] == '\r' && e + 1 < length && text[e + 1] == '\n') ? 2 : 1);
        // A final line break ends the last line; it does not start another.
        if (p >= length)
            break;
    }
    return widest;
}

wxPoint CToolTipCtrlEx::PlaceTip(const wxPoint& anchor, const wxSize& clientSize, const wxSize& screenSize)
{
    int x = anchor.x + kCursorGap;
    if (x + clientSize.x + 1 > screenSize.x)
        x = screenSize.x - clientSize.x - 1;
    int y = anchor.y + kCursorGap;
    if (y + clientSize.y + 1 > screenSize.y)
        y = anchor.y - clientSize.y - kCursorGap - 1;
    return wxPoint(x, y);
}

void CToolTipCtrlEx::ShowTip(wxWindow* control, int x, int y, const char* text, int wrapWidth)
{
    if (control != m_pControl) {
        const size_t length = CutUtf8(text, kTextSize - 1);
        std::memcpy(m_szText, text, length);
        m_szText[length] = '\0';

        wxClientDC dc(this);
        dc.SetFont(m_font);
        auto measure = [&dc](const char* s, size_t n) {
            return dc.GetTextExtent(wxString::FromUTF8(s, n)).x;
        };
        const int w = WrapText(m_szText, wrapWidth, measure, &m_lines);
        m_nLineHeight = dc.GetCharHeight();
        const int h = m_nLineHeight * static_cast<int>(m_lines.size());
        SetSize(w + 2 * kMarginX, h + kMarginY + 1);
        m_pControl = control;
    }
    m_ptAnchor = wxPoint(x, y);
    m_timer.Start(kDelayMs, wxTIMER_ONE_SHOT);
}

void CToolTipCtrlEx::TrackLeave(wxWindow* child)
{
    if (m_bTracking)
        return;
    m_pTrackedChild = child;
    m_bTracking = true;
}

void CToolTipCtrlEx::CheckLeave(const wxWindow* under)
{
    if (!m_bTracking || under == m_pTrackedChild)
        return;
    m_pSuppressed = nullptr;
    m_bTracking = false;
    m_pTrackedChild = nullptr;
}

void CToolTipCtrlEx::HideTip()
{
    if (HasCapture())
        ReleaseMouse();
    if (IsShown())
        Hide();
    m_timer.Stop();
}

wxPoint CToolTipCtrlEx::GetCursorScreenPos() const
{
    return wxGetMousePosition();
}

void CToolTipCtrlEx::OnTimer(wxTimerEvent& event)
{
    if (m_pControl != m_pSuppressed && GetCursorScreenPos() == m_ptAnchor) {
        Move(PlaceTip(m_ptAnchor, GetTipClientSize(), wxGetDisplaySize()));
        Show();
        Raise();
        // No mouse capture: on this toolkit a grab would keep clicks from the windows
        // underneath. The main window watches the pointer instead and hides the tip.
    }
    m_timer.Stop();
    event.Skip();
}

void CToolTipCtrlEx::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    const int frame = FrameInClient();
    if (frame) {
        dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWFRAME)));
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.DrawRectangle(wxPoint(0, 0), GetClientSize());
    }
    dc.SetFont(m_font);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    // The info text colour, not plain black: some themes give tips a dark background.
    dc.SetTextForeground(wxSystemSettings::GetColour(wxSYS_COLOUR_INFOTEXT));
    const int left = kMarginX - 1 + frame;
    int y = frame;
    for (const TipLine& line : m_lines) {
        if (line.end > line.begin)
            dc.DrawText(wxString::FromUTF8(m_szText + line.begin, line.end - line.begin), left, y);
        y += m_nLineHeight;
    }
}

int CToolTipCtrlEx::FrameInClient() const
{
    // Some toolkits draw no frame round a pop-up and give it all of the window.
    return GetClientSize() == GetSize() ? 1 : 0;
}

void CToolTipCtrlEx::OnSysColorChange(wxSysColourChangedEvent& event)
{
    event.Skip();
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_INFOBK));
    if (IsShown())
        Refresh();
}

void CToolTipCtrlEx::OnMouseMove(wxMouseEvent& event)
{
    event.Skip();
    const wxPoint screen = ClientToScreen(event.GetPosition());
    if (m_pControl && m_pControl->GetScreenRect().Contains(screen))
        return;
    m_pSuppressed = nullptr;
    ForwardMouse(event, wxEVT_MOTION);
}

void CToolTipCtrlEx::OnMouseDown(wxMouseEvent& event)
{
    // A click on the tip belongs to whatever lies beneath it.
    ForwardMouse(event, event.GetEventType());
}

void CToolTipCtrlEx::ForwardMouse(wxMouseEvent& event, wxEventType type)
{
    const wxPoint screen = ClientToScreen(event.GetPosition());
    HideTip();
    wxWindow* target = wxFindWindowAtPoint(screen);
    if (!target || target == this)
        target = m_pOwner;
    if (!target)
        return;
    wxMouseEvent forwarded(event);
    forwarded.SetEventType(type);
    forwarded.SetEventObject(target);
    forwarded.SetId(target->GetId());
    const wxPoint local = target->ScreenToClient(screen);
    forwarded.m_x = local.x;
    forwarded.m_y = local.y;
    wxPostEvent(target->GetEventHandler(), forwarded);
}
