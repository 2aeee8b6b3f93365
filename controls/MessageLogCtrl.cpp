#include "controls/MessageLogCtrl.h"

#include <wx/clipbrd.h>
#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/renderer.h>
#include <wx/settings.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "platform/Text.h"

// clang-format off
wxBEGIN_EVENT_TABLE(CMessageLogCtrl, wxWindow)
    EVT_PAINT(CMessageLogCtrl::OnPaint)
    EVT_SIZE(CMessageLogCtrl::OnSize)
    EVT_SET_FOCUS(CMessageLogCtrl::OnSetFocus)
    EVT_KILL_FOCUS(CMessageLogCtrl::OnKillFocus)
    EVT_LEFT_DOWN(CMessageLogCtrl::OnLButtonDown)
    EVT_RIGHT_DOWN(CMessageLogCtrl::OnLButtonDown)
    EVT_LEFT_UP(CMessageLogCtrl::OnLButtonUp)
    EVT_RIGHT_UP(CMessageLogCtrl::OnLButtonUp)
    EVT_MOTION(CMessageLogCtrl::OnMouseMove)
    EVT_LEFT_DCLICK(CMessageLogCtrl::OnDoubleClick)
    EVT_RIGHT_DCLICK(CMessageLogCtrl::OnDoubleClick)
    EVT_MOUSEWHEEL(CMessageLogCtrl::OnMouseWheel)
    EVT_MOUSE_CAPTURE_LOST(CMessageLogCtrl::OnCaptureLost)
    EVT_KEY_DOWN(CMessageLogCtrl::OnKeyDown)
    EVT_SCROLLWIN(CMessageLogCtrl::OnScroll)
    EVT_TIMER(wxID_ANY, CMessageLogCtrl::OnRowPaintTimer)
    EVT_IDLE(CMessageLogCtrl::OnIdle)
    EVT_CONTEXT_MENU(CMessageLogCtrl::OnContextMenu)
wxEND_EVENT_TABLE()
// clang-format on

namespace {
// Left and Right move the view sideways by this many pixels.
const int kKeyScrollStep = 20;
// A new filter is looked at this long before the first paint: the first page is
// usually found well within it.
constexpr std::chrono::milliseconds kFilterFirstSlice{50};
constexpr std::chrono::milliseconds kFilterIdleSlice{15};

// Appends the UTF-8 form of text to out, up to its first NUL. Lone surrogates become
// U+FFFD, so what is stored always converts back.
void AppendAsUtf8(const wxString& text, std::string& out)
{
    unsigned pendingHigh = 0;
    // Where wchar_t is 16 bits the string iterates UTF-16 units, so pairs are joined here.
    for (wxString::const_iterator it = text.begin(); it != text.end(); ++it) {
        unsigned cp = static_cast<unsigned>((*it).GetValue());
        if (cp == 0)
            break;
        if (pendingHigh) {
            if (cp >= 0xDC00 && cp <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((pendingHigh - 0xD800) << 10) + (cp - 0xDC00));
                pendingHigh = 0;
                continue;
            }
            AppendUtf8(out, 0xFFFD);
            pendingHigh = 0;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF)
            pendingHigh = cp;
        else if ((cp >= 0xDC00 && cp <= 0xDFFF) || cp > 0x10FFFF)
            AppendUtf8(out, 0xFFFD);
        else
            AppendUtf8(out, cp);
    }
    if (pendingHigh)
        AppendUtf8(out, 0xFFFD);
}

// Text handed in as bytes need not be UTF-8; Latin-1 shows every byte as something.
wxString FromBytes(const char* p, size_t n)
{
    wxString s = wxString::FromUTF8(p, n);
    if (s.empty() && n)
        s = wxString(p, wxConvISO8859_1, n);
    return s;
}
}   // namespace

CMessageLogCtrl::CMessageLogCtrl()
{
    m_timerRowPaint.SetOwner(this);
}

CMessageLogCtrl::CMessageLogCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                                 long style)
    : CMessageLogCtrl()
{
    Create(parent, id, pos, size, style);
}

CMessageLogCtrl::~CMessageLogCtrl()
{
    m_timerRowPaint.Stop();
    if (HasCapture())
        ReleaseMouse();
}

bool CMessageLogCtrl::Create(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                             long style)
{
    // The paint handler covers every pixel, so the toolkit must not erase first.
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    // GTK makes scroll bars only for the styles given at creation; the horizontal one
    // stays hidden until its range exceeds its page.
    style |= wxVSCROLL | wxHSCROLL | wxWANTS_CHARS | wxFULL_REPAINT_ON_RESIZE;
    if (!wxWindow::Create(parent, id, pos, size, style))
        return false;
    // The filter works through idle time, which goes only to windows that ask for it.
    SetExtraStyle(GetExtraStyle() | wxWS_EX_PROCESS_IDLE);

    // The platform's GUI face at 8 points: the row and header geometry assume a text
    // height near 13 pixels.
    m_font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    m_font.SetPointSize(8);
    SetFont(m_font);
    m_nRowHeight = std::max(1, GetCharHeight());
    m_nHeaderHeight = HeaderHeightFor(m_nRowHeight);

    SetCurSel(1);
    UpdateScrollBars();
    return true;
}

void CMessageLogCtrl::InsertColumn(const wxString& title, int width, int position)
{
    LOGCOLUMN column;
    column.title = title;
    column.width = width;
    const int count = GetColumnCount();
    position = std::clamp(position, 0, count);
    m_columns.insert(m_columns.begin() + position, column);
    m_header = wxBitmap();
    m_rows.ClearFlags();   // the cells of every row now fall elsewhere
    if (!GetHandle())
        return;
    LayoutColumns();
    UpdateScrollBars();
    Refresh(true);
}

int CMessageLogCtrl::InsertRow(const wxString& text, int position)
{
    m_strConvert.clear();
    AppendAsUtf8(text, m_strConvert);
    return InsertRowBytes(m_strConvert.data(), m_strConvert.size(), position);
}

int CMessageLogCtrl::InsertRow(const char* text, int position)
{
    if (!text)
        text = "";
    return InsertRowBytes(text, std::strlen(text), position);
}

int CMessageLogCtrl::InsertRowBytes(const char* text, size_t length, int position)
{
    const int count = GetStoredRowCount();
    if (count == INT_MAX)
        return -1;
    if (position < 0 || position > count)
        position = count;
    if (!m_rows.Insert(static_cast<size_t>(position), text, length))
        return -1;

    // Under a filter the row shows only if it matches, and where the matches put it.
    int shown = position;
    if (m_filter.IsActive()) {
        if (position != count) {
            // Rows behind the row moved: the matches are found again.
            SetFilter(wxString::FromUTF8(m_filterText));
            return position;
        }
        const size_t before = m_filter.Count();
        if (m_filter.Scanned() != static_cast<size_t>(count) ||
            !m_filter.Scan(m_rows, SIZE_MAX, std::chrono::seconds(1)) || m_filter.Count() == before)
            return position;   // not shown, or found by the filter's next slice
        shown = static_cast<int>(before);
    }

    if (shown <= m_nCurSel)
        ++m_nCurSel;
    m_selection.Inserted(shown);
    const int oldTop = m_nTopRow;
    if (!m_bFollowing) {
        ++m_nRowsWhilePaused;
    } else if (shown > m_nRowsPerPage) {
        m_nTopRow = shown - m_nRowsPerPage + 1;
        m_nVScrollPos = m_nTopRow;
    }
    if (!GetHandle())
        return position;
    ShowInsertedRow(m_nTopRow != oldTop ? m_nTopRow : shown);
    return position;
}

void CMessageLogCtrl::DeleteRow(int row)
{
    if (row < 0 || row >= GetRowCount())
        return;
    const size_t stored = StoreRow(row);
    m_rows.Erase(stored);
    if (m_filter.IsActive()) {
        // The rows after it are numbered anew: the matches are found again.
        m_nCurSel = -1;
        SetFilter(wxString::FromUTF8(m_filterText));
        return;
    }
    if (row < m_nCurSel)
        --m_nCurSel;
    if (GetRowCount() == 0) {
        m_nCurSel = -1;
        SetFollowing(true);
    }
    m_selection.SelectOnly(m_nCurSel < GetRowCount() ? m_nCurSel : -1);
    if (!GetHandle())
        return;
    Refresh(true);
    UpdateScrollBars();
}

void CMessageLogCtrl::DeleteAllRows()
{
    // Deleting row 0 one at a time would move the whole row array per row: minutes for
    // a long capture. The end state is the same: no rows, selection 0, both views home.
    m_rows.Clear();
    m_filter.Restart();
    m_selection.Clear();
    m_nPendingSelRow = -1;
    SetFollowing(true);
    m_nTopRow = 0;
    m_nShownTopRow = -1;
    m_nCurSel = 0;
    m_nVScrollPos = 0;
    m_nMaxExtent = 0;
    m_nHScrollPos = 0;
    if (!GetHandle())
        return;
    Refresh(true);
    UpdateScrollBars();
}

void CMessageLogCtrl::SetCurSel(int row)
{
    if (!GetHandle())
        return;
    const int count = GetRowCount();
    if (row < 0)
        row = 0;
    if (row >= count)
        row = count - 1;
    // At the newest row the view follows new rows again; an older one holds it.
    SetFollowing(row >= count - 1);
    if (row == m_nCurSel) {
        if (m_selection.Count() > 1 || (row >= 0 && !m_selection.Contains(row))) {
            m_selection.SelectOnly(row);
            RefreshRowsArea();
        }
        return;
    }
    if (m_selection.Count() > 1)
        RefreshRowsArea();
    m_selection.SelectOnly(row);

    int t = m_nTopRow;
    if (t > row)
        t = row;
    const int P = m_nRowsPerPage;
    if (P >= 0 && P <= count) {
        if (t < row - P + 1)
            t = row - P + 1;
        if (t + P > count)
            t = count - P;
    }
    if (t < 0)
        t = 0;

    if (t != m_nTopRow) {
        const wxSize cs = GetClientSize();
        RefreshRect(wxRect(0, m_nHeaderHeight, cs.x, std::max(0, cs.y - m_nHeaderHeight)), true);
        m_nVScrollPos = std::clamp(t, 0, GetVScrollLimit());
        MoveVThumb();
        m_nTopRow = t;
        m_nCurSel = row;
    } else {
        InvalidateRowStrip(m_nCurSel);
        InvalidateRowStrip(row);
        m_nCurSel = row;
    }
}

const char* CMessageLogCtrl::GetRowText(int row) const
{
    if (row < 0 || row >= GetRowCount())
        return nullptr;
    return m_rows.Get(StoreRow(row));
}

int CMessageLogCtrl::GetVScrollLimit() const
{
    return std::max(0, GetRowCount() - m_nRowsPerPage);
}

int CMessageLogCtrl::GetHScrollLimit() const
{
    return std::max(0, m_nMaxExtent - GetClientSize().x + 1);
}

bool CMessageLogCtrl::Enable(bool enable)
{
    // Only a real change reaches the control, as the enable notice does on Windows.
    if (!wxWindow::Enable(enable))
        return false;
    m_bEnabled = enable;
    Refresh(true);
    return true;
}

void CMessageLogCtrl::LayoutColumns()
{
    const int L = 0, T = 0, R = GetClientSize().x;
    int x = L;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        LOGCOLUMN& column = m_columns[i];
        const int right = (i + 1 == m_columns.size()) ? R : x + column.width;
        column.rcHeader = LOGRECT{x, T, right, T + m_nHeaderHeight};
        x = right;
    }
}

void CMessageLogCtrl::UpdateScrollBars()
{
    const wxSize cs = GetClientSize();
    m_nRowsPerPage = (cs.y - m_nHeaderHeight) / m_nRowHeight;
    const int count = GetRowCount();
    if (count == 0)
        m_nMaxExtent = 0;

    // Windows terms: range 0 .. count - 1 with page P. The toolkit wants the number of
    // positions and shows the bar only while it exceeds the page, as Windows does.
    if (m_vBar.pos != m_nVScrollPos || m_vBar.page != m_nRowsPerPage || m_vBar.range != count) {
        m_vBar = ScrollBarState{m_nVScrollPos, m_nRowsPerPage, count};
        SetScrollbar(wxVERTICAL, m_nVScrollPos, m_nRowsPerPage, count);
    }

    const int M = m_nMaxExtent - cs.x + 5;
    if (M <= 0)
        m_nHScrollPos = 0;
    const int hRange = std::max(0, M + 1);
    if (m_hBar.pos != m_nHScrollPos || m_hBar.page != 5 || m_hBar.range != hRange) {
        m_hBar = ScrollBarState{m_nHScrollPos, 5, hRange};
        SetScrollbar(wxHORIZONTAL, m_nHScrollPos, 5, hRange);
    }
}

void CMessageLogCtrl::InvalidateRowStrip(int row)
{
    const wxSize cs = GetClientSize();
    const long long y = static_cast<long long>(row - m_nTopRow) * m_nRowHeight + m_nHeaderHeight;
    if (y + m_nRowHeight <= m_nHeaderHeight || y >= cs.y)
        return;   // off screen: nothing to repaint
    RefreshRect(wxRect(0, static_cast<int>(y), cs.x, m_nRowHeight), true);
}

void CMessageLogCtrl::InvalidateRowsFrom(int row)
{
    const wxSize cs = GetClientSize();
    if (row < m_nTopRow)
        row = m_nTopRow;
    const long long y = static_cast<long long>(row - m_nTopRow) * m_nRowHeight + m_nHeaderHeight;
    if (y >= cs.y)
        return;   // below the page: an append there costs no paint
    RefreshRect(wxRect(0, static_cast<int>(y), cs.x, cs.y - static_cast<int>(y)), false);
}

void CMessageLogCtrl::ShowInsertedRow(int row)
{
    // A capture appends hundreds of rows a second and each one moves the view. Any
    // change to a scroll bar makes the toolkit lay the window out again and redraw the
    // whole control, so a page of text would be laid out at every frame and hold a core.
    // The first row after a pause shows at once; the rest of a burst reaches the screen
    // and the scroll bar once per interval, which doubles while rows keep coming: a
    // sustained stream costs a few paints a second. The control's own state is always
    // current.
    if (m_timerRowPaint.IsRunning()) {
        m_nPendingRow = std::min(m_nPendingRow, row);
        return;
    }
    m_nRowPaintInterval = kRowPaintInterval;
    UpdateScrollBars();
    InvalidateRowsFrom(row);
    m_timerRowPaint.StartOnce(m_nRowPaintInterval);
}

void CMessageLogCtrl::OnRowPaintTimer(wxTimerEvent&)
{
    if (m_nPendingRow == INT_MAX)
        return;   // the burst is over
    MeasurePage();
    UpdateScrollBars();
    InvalidateRowsFrom(m_nPendingRow);
    m_nPendingRow = INT_MAX;
    m_nRowPaintInterval = std::min(2 * m_nRowPaintInterval, kRowPaintIntervalMax);
    m_timerRowPaint.StartOnce(m_nRowPaintInterval);
}

bool CMessageLogCtrl::IsInRowsRect(const wxPoint& pt) const
{
    const long long bottom =
        m_nHeaderHeight + static_cast<long long>(GetRowCount() - ShownTopRow()) * m_nRowHeight - 1;
    return pt.x >= 0 && pt.x < GetClientSize().x && pt.y >= m_nHeaderHeight && pt.y < bottom;
}

void CMessageLogCtrl::ScrollRowsTo(int p)
{
    p = std::clamp(p, 0, GetVScrollLimit());
    // Only the user scrolls this way: at the bottom the view follows new rows again.
    SetFollowing(p >= GetVScrollLimit());
    m_nVScrollPos = p;
    if (p != m_nTopRow) {
        m_nTopRow = p;
        // The header does not move with the rows.
        const wxSize cs = GetClientSize();
        RefreshRect(wxRect(0, m_nHeaderHeight, cs.x, std::max(0, cs.y - m_nHeaderHeight)), false);
    }
    MoveVThumb();
}

void CMessageLogCtrl::MoveVThumb()
{
    // While inserted rows wait for the bar, its range is stale and would clamp the thumb.
    if (m_nPendingRow != INT_MAX) {
        UpdateScrollBars();
        return;
    }
    SetScrollPos(wxVERTICAL, m_nVScrollPos);
    m_vBar.pos = m_nVScrollPos;
}

void CMessageLogCtrl::ScrollPixelsTo(int h)
{
    h = std::clamp(h, 0, GetHScrollLimit());
    const int old = m_nHScrollPos;
    m_nHScrollPos = h;
    if (h != old)
        Refresh(false);
    SetScrollPos(wxHORIZONTAL, h);
    m_hBar.pos = h;
}

void CMessageLogCtrl::OnScroll(wxScrollWinEvent& event)
{
    if (event.GetOrientation() == wxVERTICAL)
        OnVScroll(event);
    else
        OnHScroll(event);
}

void CMessageLogCtrl::OnVScroll(wxScrollWinEvent& event)
{
    const wxEventType type = event.GetEventType();
    int p = m_nVScrollPos;
    if (type == wxEVT_SCROLLWIN_LINEUP)
        p -= 1;
    else if (type == wxEVT_SCROLLWIN_LINEDOWN)
        p += 1;
    else if (type == wxEVT_SCROLLWIN_PAGEUP)
        p -= m_nRowsPerPage;
    else if (type == wxEVT_SCROLLWIN_PAGEDOWN)
        p += m_nRowsPerPage;
    else if (type == wxEVT_SCROLLWIN_THUMBTRACK || type == wxEVT_SCROLLWIN_THUMBRELEASE)
        p = event.GetPosition();
    ScrollRowsTo(p);
}

void CMessageLogCtrl::OnHScroll(wxScrollWinEvent& event)
{
    const wxEventType type = event.GetEventType();
    const int half = GetClientSize().x / 2;
    int h = m_nHScrollPos;
    if (type == wxEVT_SCROLLWIN_LINEUP)
        h -= 5;
    else if (type == wxEVT_SCROLLWIN_LINEDOWN)
        h += 5;
    else if (type == wxEVT_SCROLLWIN_PAGEUP)
        h -= half;
    else if (type == wxEVT_SCROLLWIN_PAGEDOWN)
        h += half;
    else if (type == wxEVT_SCROLLWIN_THUMBTRACK || type == wxEVT_SCROLLWIN_THUMBRELEASE) {
        h = event.GetPosition();
        if (h >= 0 && h < GetHScrollLimit())
            h = h / 64 * 64;
    }
    ScrollPixelsTo(h);
}

void CMessageLogCtrl::OnMouseWheel(wxMouseEvent& event)
{
    // Windows left the wheel to the parent, which ignored it; a log that will not
    // scroll under the wheel is a trap, so the wheel moves the view as the arrows of
    // the scroll bar would.
    const int delta = event.GetWheelDelta() > 0 ? event.GetWheelDelta() : 120;
    m_nWheelRest += event.GetWheelRotation();
    const int steps = m_nWheelRest / delta;
    m_nWheelRest -= steps * delta;
    if (steps == 0)
        return;
    if (event.GetWheelAxis() == wxMOUSE_WHEEL_HORIZONTAL)
        ScrollPixelsTo(m_nHScrollPos + steps * 5 * std::max(1, event.GetColumnsPerAction()));
    else
        ScrollRowsTo(m_nVScrollPos - steps * std::max(1, event.GetLinesPerAction()));
}

void CMessageLogCtrl::OnSize(wxSizeEvent& event)
{
    LayoutColumns();
    UpdateScrollBars();
    Refresh(true);
    event.Skip();
}

void CMessageLogCtrl::OnSetFocus(wxFocusEvent& event)
{
    if (m_bEnabled)
        InvalidateRowStrip(m_nCurSel);
    event.Skip();
}

void CMessageLogCtrl::OnKillFocus(wxFocusEvent& event)
{
    if (m_bEnabled)
        InvalidateRowStrip(m_nCurSel);
    event.Skip();
}

void CMessageLogCtrl::OnLButtonDown(wxMouseEvent& event)
{
    if (m_bEnabled) {
        SetFocus();
        if (IsInRowsRect(event.GetPosition())) {
            const int row = (event.GetY() - m_nHeaderHeight) / m_nRowHeight + ShownTopRow();
            // A right click inside the selection keeps it for the context menu.
            if (event.RightDown() && m_selection.Contains(row)) {
                event.Skip();
                return;
            }
            if (event.ControlDown()) {
                SelectRow(row, SELECT_TOGGLE);
                event.Skip();
                return;
            }
            if (!HasCapture())
                CaptureMouse();
            OnMouseMove(event);
            return;   // OnMouseMove has let the default processing run
        }
    }
    event.Skip();
}

void CMessageLogCtrl::OnMouseMove(wxMouseEvent& event)
{
    if (m_bEnabled && HasCapture())
        SelectRow((event.GetY() - m_nHeaderHeight) / m_nRowHeight + ShownTopRow(),
                  event.ShiftDown() ? SELECT_EXTEND : SELECT_ONE);
    event.Skip();
}

void CMessageLogCtrl::OnLButtonUp(wxMouseEvent& event)
{
    if (m_bEnabled && HasCapture())
        ReleaseMouse();
    event.Skip();
}

void CMessageLogCtrl::OnDoubleClick(wxMouseEvent& event)
{
    // A double click outside the rows, or on a disabled control, is swallowed; one on a
    // row gets the default processing (its first click has already selected the row).
    if (m_bEnabled && IsInRowsRect(event.GetPosition()))
        event.Skip();
}

void CMessageLogCtrl::OnCaptureLost(wxMouseCaptureLostEvent&)
{
    // The toolkit took the capture away (a grab elsewhere); dragging simply ends.
}

void CMessageLogCtrl::OnKeyDown(wxKeyEvent& event)
{
    if (!m_bEnabled)
        return;
    const int S = m_nCurSel;
    const int P = m_nRowsPerPage;
    const SelectMode mode = event.ShiftDown() ? SELECT_EXTEND : SELECT_ONE;
    const bool ctrlOnly = event.GetModifiers() == wxMOD_CONTROL;
    switch (event.GetKeyCode()) {
    case WXK_PAGEUP:
    case WXK_NUMPAD_PAGEUP:
        SelectRow(S - P, mode);
        return;
    case WXK_PAGEDOWN:
    case WXK_NUMPAD_PAGEDOWN:
        SelectRow(S + P, mode);
        return;
    case WXK_END:
    case WXK_NUMPAD_END:
        SelectRow(GetRowCount() - 1, mode);
        return;
    case WXK_HOME:
    case WXK_NUMPAD_HOME:
        SelectRow(0, mode);
        return;
    case WXK_UP:
    case WXK_NUMPAD_UP:
        SelectRow(S - 1, mode);
        return;
    case WXK_DOWN:
    case WXK_NUMPAD_DOWN:
        SelectRow(S + 1, mode);
        return;
    case WXK_LEFT:
    case WXK_NUMPAD_LEFT:
        ScrollPixelsTo(m_nHScrollPos - kKeyScrollStep);
        return;
    case WXK_RIGHT:
    case WXK_NUMPAD_RIGHT:
        ScrollPixelsTo(m_nHScrollPos + kKeyScrollStep);
        return;
    case WXK_SPACE:
        if (ctrlOnly && S >= 0 && S < GetRowCount()) {
            SelectRow(S, SELECT_TOGGLE);
            return;
        }
        break;
    case 'A':
        if (ctrlOnly) {
            m_selection.SelectAll(GetRowCount());
            RefreshRowsArea();
            return;
        }
        break;
    case 'C':
    case WXK_INSERT:
        if (ctrlOnly) {
            CopySelection();
            return;
        }
        break;
    case WXK_TAB:
        // Asking for every key takes Tab away from dialog navigation; hand it back.
        if (!event.HasAnyModifiers() || event.GetModifiers() == wxMOD_SHIFT) {
            Navigate(event.ShiftDown() ? wxNavigationKeyEvent::IsBackward : wxNavigationKeyEvent::IsForward);
            return;
        }
        break;
    default:
        break;
    }
    event.Skip();
}

// Cell text of plain rows goes through the DC's graphics context where it has one: the
// DC's own DrawText lays each string out a second time to track its bounding box. Where
// the control's kept layouts can draw on that context, they write and measure instead.
class CMessageLogCtrl::CTextPen {
public:
    // Slots of the kept layouts: one for measuring, one for single cells, then one per
    // column of a run of rows, then one per header title.
    static constexpr size_t kMeasureSlot = 0;
    static constexpr size_t kCellSlot = 1;
    static constexpr size_t kColumnSlots = 2;

    CTextPen(wxDC& dc, const wxFont& font, CTextLayouts& layouts)
        : m_dc(&dc), m_gc(dc.GetGraphicsContext()), m_font(font)
    {
        m_layouts = layouts.Begin(m_gc, font) ? &layouts : nullptr;
    }

    // Measures ASCII text only, for the coming paint, with no DC; IsOk says whether it can.
    CTextPen(const wxFont& font, CTextLayouts& layouts) : m_dc(nullptr), m_gc(nullptr), m_font(font)
    {
        m_layouts = layouts.BeginMeasuring(font) ? &layouts : nullptr;
    }

    bool IsOk() const { return m_dc || m_layouts; }

    void SetColour(const wxColour& colour)
    {
        if (m_gc)
            m_gc->SetFont(m_font, colour);
        if (m_dc)
            m_dc->SetTextForeground(colour);
        m_colour = colour;
    }

    // Writes ASCII text (any UTF-8 where the layouts are kept).
    void Draw(size_t slot, const char* text, size_t length, int x, int y)
    {
        if (m_layouts)
            m_layouts->Draw(slot, text, length, x, y, m_colour);
        else if (m_gc)
            m_gc->DrawText(wxString::FromAscii(text, length), x, y);
        else if (m_dc)
            m_dc->DrawText(wxString::FromAscii(text, length), x, y);
    }

    wxDC& GetDC() { return *m_dc; }   // a pen made with one
    bool KeepsLayouts() const { return m_layouts != nullptr; }

    // Width of the widest line of ASCII text.
    int Width(const char* text, size_t length) { return Extent(kMeasureSlot, text, length).x; }

    wxSize Extent(size_t slot, const char* text, size_t length)
    {
        if (m_layouts)
            return m_layouts->Extent(slot, text, length);
        const wxString str = wxString::FromAscii(text, length);
        if (m_gc) {
            wxDouble w = 0, h = 0;
            m_gc->GetTextExtent(str, &w, &h);
            return wxSize(wxRound(w), wxRound(h));
        }
        wxCoord w = 0, h = 0;
        if (m_dc)
            m_dc->GetMultiLineTextExtent(str, &w, &h);
        return wxSize(w, h);
    }

    // True when the lines of one string lie exactly a row apart, so that one call can
    // write a column of many rows.
    bool StacksRows(int rowHeight)
    {
        if (!m_gc)
            return false;
        return Extent(kMeasureSlot, "X\nX", 3).y == 2 * rowHeight;
    }

private:
    wxDC* m_dc;
    wxGraphicsContext* m_gc;
    const wxFont& m_font;
    CTextLayouts* m_layouts = nullptr;
    wxColour m_colour;
};

void CMessageLogCtrl::OnPaint(wxPaintEvent&)
{
    wxAutoBufferedPaintDC dc(this);
    const wxSize cs = GetClientSize();
    const wxColour clrWindow = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
    const wxColour B = m_bEnabled ? clrWindow : wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
    // Rows outside the damaged area keep their pixels; skipping them keeps a one-row
    // repaint (selection, append) from laying out a page of text.
    const wxRect damaged = GetUpdateRegion().GetBox();

    dc.SetFont(m_font);
    dc.SetPen(*wxTRANSPARENT_PEN);
    if (damaged.GetTop() < m_nHeaderHeight)
        PaintHeader(dc, cs);

    const int rowHeight = std::max(1, dc.GetCharHeight());
    const bool heightChanged = rowHeight != m_nRowHeight;
    m_nRowHeight = rowHeight;
    if (HeaderHeightFor(rowHeight) != m_nHeaderHeight) {
        m_nHeaderHeight = HeaderHeightFor(rowHeight);
        LayoutColumns();
        m_header = wxBitmap();
        Refresh(false);   // the rows move down with the header
    }
    m_nRowsPerPage = (cs.y - m_nHeaderHeight) / m_nRowHeight;

    // From the top row to one past the page: a partly visible row is drawn too.
    const int drawn = std::max(0, std::min(GetRowCount() - m_nTopRow, m_nRowsPerPage + 1));
    int first = 0;
    while (first < drawn && m_nHeaderHeight + (first + 1) * m_nRowHeight <= damaged.GetTop())
        ++first;
    int last = first;
    while (last < drawn && m_nHeaderHeight + last * m_nRowHeight <= damaged.GetBottom())
        ++last;
    const int extentBefore = m_nMaxExtent;
    if (first < last)
        PaintRows(dc, first, last, cs, B);

    const int bandTop = drawn * m_nRowHeight + m_nHeaderHeight;
    if (bandTop < cs.y) {
        dc.SetBrush(wxBrush(clrWindow));
        dc.DrawRectangle(0, bandTop, cs.x, cs.y - bandTop);
    }

    if (heightChanged || m_nMaxExtent != extentBefore)
        UpdateScrollBars();
}

void CMessageLogCtrl::PaintHeader(wxDC& dc, const wxSize& cs)
{
    const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
    if (m_columns.empty()) {
        dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)));
        dc.DrawRectangle(0, 0, cs.x, m_nHeaderHeight);
        return;
    }
    // The themed button faces take over a millisecond to draw, and any change to a
    // scroll bar repaints the whole control: they are drawn once for each layout, width
    // and horizontal position into a transparent bitmap, which then goes over whatever
    // the faces would have been drawn on. Text looks different drawn into a bitmap, so
    // the titles are always written here.
    if (cs.x > 0 && (!m_header.IsOk() || m_nHeaderWidth != cs.x || m_nHeaderScroll != m_nHScrollPos ||
                     m_headerFace != face)) {
        // In physical pixels, so that a high-DPI screen gets sharp faces.
        const double scale = GetContentScaleFactor();
        wxImage clear(wxRound(cs.x * scale), wxRound(m_nHeaderHeight * scale));
        clear.InitAlpha();
        std::memset(clear.GetAlpha(), 0,
                    static_cast<size_t>(clear.GetWidth()) * static_cast<size_t>(clear.GetHeight()));
        m_header = wxBitmap(clear, -1, scale);
        wxMemoryDC mdc(m_header);
        wxRendererNative& renderer = wxRendererNative::Get();
        for (const LOGCOLUMN& column : m_columns) {
            const int left = column.rcHeader.left - m_nHScrollPos;
            const wxRect rc(left, column.rcHeader.top, column.rcHeader.right - left,
                            column.rcHeader.bottom - column.rcHeader.top);
            if (rc.width > 0 && rc.height > 0)
                renderer.DrawPushButton(this, mdc, rc, 0);
        }
        mdc.SelectObject(wxNullBitmap);
        m_nHeaderWidth = cs.x;
        m_nHeaderScroll = m_nHScrollPos;
        m_headerFace = face;
    }
    if (m_header.IsOk())
        dc.DrawBitmap(m_header, 0, 0, true);

    // The theme's own pair: a fixed black would vanish on a dark theme's faces.
    const wxColour text = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNTEXT);
    CTextPen pen(dc, m_font, m_layouts);
    if (!pen.KeepsLayouts()) {
        dc.SetBackgroundMode(wxBRUSHSTYLE_SOLID);
        dc.SetTextBackground(face);
        dc.SetTextForeground(text);
        for (const LOGCOLUMN& column : m_columns)
            dc.DrawText(column.title, column.rcHeader.left - m_nHScrollPos + 3, column.rcHeader.top + 1);
        return;
    }
    // As the DC writes text on a solid background: the face behind the text's box.
    pen.SetColour(text);
    dc.SetBrush(wxBrush(face));
    for (size_t i = 0; i < m_columns.size(); ++i) {
        const LOGCOLUMN& column = m_columns[i];
        const wxScopedCharBuffer title = column.title.utf8_str();
        const size_t slot = CTextPen::kColumnSlots + m_columns.size() + i;
        const int x = column.rcHeader.left - m_nHScrollPos + 3, y = column.rcHeader.top + 1;
        const wxSize box = pen.Extent(slot, title.data(), title.length());
        dc.DrawRectangle(x, y, box.x, box.y);
        pen.Draw(slot, title.data(), title.length(), x, y);
    }
}

namespace {
// Row flags. A measured row has had its extent noted; a plain one is also printable
// ASCII whose every cell fits its column, so it needs no measuring to be drawn and its
// cells can be written a column of rows at a time.
constexpr unsigned char kRowMeasured = 1;
constexpr unsigned char kRowPlain = 2;

bool IsPlainAscii(const char* text)
{
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if ((*p < 0x20 && *p != '\t') || *p > 0x7E)
            return false;
    }
    return true;
}

// Adds the text of page row `line` to a column; rows in between stay empty lines.
void AddLine(std::string& column, int& firstLine, int& lastLine, int line, const char* text, size_t length)
{
    if (column.empty())
        firstLine = line;
    else
        column.append(static_cast<size_t>(line - lastLine), '\n');
    column.append(text, length);
    lastLine = line;
}
}   // namespace

void CMessageLogCtrl::MeasurePage()
{
    // The rows the coming paint will show are measured here, apart from the paint, so
    // that neither holds the event loop for long. A control that is not on screen
    // leaves it to the paint: rows are measured once they are shown. So does one whose
    // text is not kept laid out from one paint to the next: a window DC would cost
    // more than the measuring.
    if (!IsShownOnScreen())
        return;
    const int drawn = std::max(0, std::min(GetRowCount() - m_nTopRow, m_nRowsPerPage + 1));
    if (drawn == 0)
        return;
    CTextPen pen(m_font, m_layouts);
    if (pen.IsOk())
        MeasureRows(pen, 0, drawn);
}

void CMessageLogCtrl::PaintRows(wxDC& dc, int first, int last, const wxSize& cs, const wxColour& background)
{
    m_nShownTopRow = m_nTopRow;
    const wxColour clrText = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNTEXT);
    const bool focused = FindFocus() == this;
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    CTextPen pen(dc, m_font, m_layouts);
    pen.SetColour(clrText);
    MeasureRows(pen, first, last);

    // Rows are filled and written top to bottom, so a row's fill covers whatever the
    // row above wrote below its own strip. Plain rows write nothing outside their strip:
    // a run of them is filled at once and written a column at a time, one line per row.
    const bool stack = pen.StacksRows(m_nRowHeight);
    int run = first;   // first row of the run not yet written
    for (int k = first; k < last; ++k) {
        const int r = m_nTopRow + k;
        const bool selected = m_selection.Contains(r);
        const bool cursor = r == m_nCurSel && focused;
        if (stack && !selected && !cursor && (m_rows.GetFlags(StoreRow(r)) & kRowPlain))
            continue;   // joins the run
        WritePlainRun(pen, run, k, cs.x, background);
        run = k + 1;
        const int y = m_nHeaderHeight + k * m_nRowHeight;
        if (!selected) {
            FillRowStrip(dc, y, cs.x, background);
            DrawRow(pen, r, y, background);
            continue;
        }
        PaintSelectedRow(pen, r, y, cs.x, cursor);
        pen.SetColour(clrText);
    }
    WritePlainRun(pen, run, last, cs.x, background);
}

void CMessageLogCtrl::FillRowStrip(wxDC& dc, int top, int width, const wxColour& colour)
{
    dc.SetBrush(wxBrush(colour));
    dc.DrawRectangle(0, top, width, m_nRowHeight);
}

void CMessageLogCtrl::WritePlainRun(CTextPen& pen, int begin, int end, int width, const wxColour& background)
{
    if (begin >= end)
        return;
    const int h = m_nRowHeight;
    wxDC& dc = pen.GetDC();
    dc.SetBrush(wxBrush(background));
    dc.DrawRectangle(0, m_nHeaderHeight + begin * h, width, (end - begin) * h);
    const size_t columns = m_columns.size();
    m_paintText.resize(std::max(m_paintText.size(), columns));
    m_paintLine.resize(2 * columns);   // first and last line of each column
    for (size_t i = 0; i < columns; ++i)
        m_paintText[i].clear();
    for (int k = begin; k < end; ++k) {
        const char* cell = m_rows.Get(StoreRow(m_nTopRow + k));
        for (size_t i = 0; i < columns; ++i) {
            const char* tab = std::strchr(cell, '\t');
            const size_t length = tab ? static_cast<size_t>(tab - cell) : std::strlen(cell);
            if (length)
                AddLine(m_paintText[i], m_paintLine[2 * i], m_paintLine[2 * i + 1], k, cell, length);
            if (!tab)
                break;
            cell = tab + 1;
        }
    }
    int x = -m_nHScrollPos;
    for (size_t i = 0; i < columns; ++i) {
        const std::string& lines = m_paintText[i];
        if (!lines.empty())
            pen.Draw(CTextPen::kColumnSlots + i, lines.data(), lines.size(), x + 3,
                     m_nHeaderHeight + m_paintLine[2 * i] * h);
        x += m_columns[i].width;
    }
}

void CMessageLogCtrl::PaintSelectedRow(CTextPen& pen, int row, int top, int width, bool cursor)
{
    wxDC& dc = pen.GetDC();
    const wxColour clrHighlight = wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT);
    FillRowStrip(dc, top, width, clrHighlight);
    pen.SetColour(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHTTEXT));
    DrawRow(pen, row, top, clrHighlight);
    if (!cursor)
        return;
    // The dotted frame of a focus rectangle inverts the pixels it crosses; on the
    // highlight fill that is the highlight's inverse.
    const wxColour inverse(255 - clrHighlight.Red(), 255 - clrHighlight.Green(), 255 - clrHighlight.Blue());
    wxPen dots(inverse, 1, wxPENSTYLE_USER_DASH);
    const wxDash dash[2] = {1, 1};
    dots.SetDashes(2, dash);
    dc.SetPen(dots);
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(0, top, width, m_nRowHeight);
    dc.SetPen(*wxTRANSPARENT_PEN);
}

void CMessageLogCtrl::MeasureRows(CTextPen& pen, int first, int last)
{
    // A row's widths never change, so it is measured the first time it is painted and
    // never again. The cells of a column are measured together: the widest tells
    // whether any overflows its column, and the widest that ends its row is the most
    // that column's rows can add to the extent.
    // A page of new rows is mostly the text the coming paint writes a column at a time:
    // measured in that column's slot, it is laid out only once.
    if (!GatherRowsToMeasure(pen, first, last))
        return;
    int x = 0;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        const int width = m_columns[i].width;
        const size_t slot = CTextPen::kColumnSlots + i;
        const std::string& inner = m_paintText[2 * i];
        if (!inner.empty() && pen.Extent(slot, inner.data(), inner.size()).x > width)
            UnmarkOverflowingRows(pen, i);
        const std::string& ending = m_paintText[2 * i + 1];
        if (!ending.empty())
            NoteExtent(
                x - m_nHScrollPos,
                pen.Extent(inner.empty() ? slot : CTextPen::kMeasureSlot, ending.data(), ending.size()).x);
        x += width;
    }
}

bool CMessageLogCtrl::GatherRowsToMeasure(CTextPen& pen, int first, int last)
{
    // Collects the cells of unmeasured plain rows a column at a time: m_paintText[2 i]
    // holds column i's cells followed by a TAB, m_paintText[2 i + 1] those ending a row.
    const size_t columns = m_columns.size();
    bool widthsFit = true;   // a negative width overlaps the next cell whatever its text
    for (size_t i = 0; i + 1 < columns; ++i)
        widthsFit = widthsFit && m_columns[i].width >= 0;
    m_paintText.resize(std::max(m_paintText.size(), 2 * columns));
    for (std::string& text : m_paintText)
        text.clear();
    m_paintRows.clear();
    int contentEnd = 0;   // where the text after the last column's TAB starts
    for (const LOGCOLUMN& column : m_columns)
        contentEnd += column.width;
    for (int k = first; k < last; ++k) {
        const size_t r = StoreRow(m_nTopRow + k);
        if (m_rows.GetFlags(r) & kRowMeasured)
            continue;
        const char* text = m_rows.Get(r);
        if (!IsPlainAscii(text)) {
            m_rows.SetFlags(r, kRowMeasured);   // measured cell by cell whenever drawn
            continue;
        }
        m_paintRows.push_back(static_cast<int>(r));
        m_rows.SetFlags(r, widthsFit ? kRowMeasured | kRowPlain : kRowMeasured);
        const char* cell = text;
        size_t i = 0;
        for (; i < columns; ++i) {
            const char* tab = std::strchr(cell, '\t');
            const size_t length = tab ? static_cast<size_t>(tab - cell) : std::strlen(cell);
            if (length && (!tab || i + 1 < columns)) {
                std::string& lines = m_paintText[2 * i + (tab ? 0 : 1)];
                if (!lines.empty())
                    lines.push_back('\n');
                lines.append(cell, length);
            }
            if (!tab)
                break;
            cell = tab + 1;
        }
        if (i == columns && *cell)   // past the last column's TAB: not drawn, but it counts
            NoteExtent(contentEnd - m_nHScrollPos, pen.Width(cell, std::strlen(cell)));
    }
    return !m_paintRows.empty();
}

void CMessageLogCtrl::UnmarkOverflowingRows(CTextPen& pen, size_t column)
{
    // Some cell of the column runs on into the next one: find the rows it belongs to.
    const int width = m_columns[column].width;
    for (int r : m_paintRows) {
        const char* cell = m_rows.Get(static_cast<size_t>(r));
        for (size_t j = 0; j < column && cell; ++j) {
            cell = std::strchr(cell, '\t');
            if (cell)
                ++cell;
        }
        const char* tab = cell ? std::strchr(cell, '\t') : nullptr;
        if (tab && tab > cell && pen.Width(cell, static_cast<size_t>(tab - cell)) > width)
            m_rows.SetFlags(static_cast<size_t>(r), kRowMeasured);
    }
}

void CMessageLogCtrl::DrawRow(CTextPen& pen, int row, int top, const wxColour& background)
{
    const size_t stored = StoreRow(row);
    const char* text = m_rows.Get(stored);
    if (m_rows.GetFlags(stored) & kRowPlain)
        DrawPlainRow(pen, text, top);
    else
        DrawRowCells(pen.GetDC(), text, top, background);
}

void CMessageLogCtrl::DrawPlainRow(CTextPen& pen, const char* text, int top)
{
    // Measured before, and no cell reaches into the next one.
    int x = -m_nHScrollPos;
    const char* cell = text;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        const char* tab = std::strchr(cell, '\t');
        const size_t length = tab ? static_cast<size_t>(tab - cell) : std::strlen(cell);
        if (length)
            pen.Draw(CTextPen::kCellSlot, cell, length, x + 3, top);
        if (!tab)
            return;
        x += m_columns[i].width;
        cell = tab + 1;
    }
}

void CMessageLogCtrl::DrawRowCells(wxDC& dc, const char* text, int top, const wxColour& background)
{
    // Cells are written as opaque text: each one's background box hides whatever an
    // earlier, overlong cell wrote there. The row is already filled with that colour,
    // so the box is painted only where earlier text reaches into it; opaque text would
    // cost a second layout of every cell. Text that is not plain ASCII goes through the
    // DC itself, which also splits it at line breaks.
    const size_t columns = m_columns.size();
    int x = -m_nHScrollPos;
    int inkRight = INT_MIN;
    const char* cell = text;
    size_t i = 0;
    for (; i < columns; ++i) {
        const char* tab = std::strchr(cell, '\t');
        const size_t length = tab ? static_cast<size_t>(tab - cell) : std::strlen(cell);
        if (length) {
            const wxString str = FromBytes(cell, length);
            const bool covers = inkRight > x + 3;
            const bool lastDrawn = !tab || i + 1 == columns;
            wxCoord w = 0, h = 0;
            if (covers || !lastDrawn || !tab)
                dc.GetMultiLineTextExtent(str, &w, &h);
            if (covers)
                FillCellBox(dc, x + 3, top, w, background);
            dc.DrawText(str, x + 3, top);
            inkRight = std::max(inkRight, x + 3 + w);
            if (!tab) {
                NoteExtent(x, w);   // this cell ends the row
                return;
            }
        } else if (!tab) {
            return;
        }
        x += m_columns[i].width;
        cell = tab + 1;
    }
    // Past the last column's TAB (or with no columns): not drawn, but its width counts.
    const size_t restLength = std::strlen(cell);
    if (!restLength)
        return;
    wxCoord w = 0, h = 0;
    dc.GetMultiLineTextExtent(FromBytes(cell, restLength), &w, &h);
    NoteExtent(x, w);
}

void CMessageLogCtrl::FillCellBox(wxDC& dc, int left, int top, int width, const wxColour& colour)
{
    dc.SetBrush(wxBrush(colour));
    dc.DrawRectangle(left, top, width, m_nRowHeight);
}

int CMessageLogCtrl::NoteExtent(int x, int width)
{
    const long long extent = static_cast<long long>(x) + m_nHScrollPos + width;
    const int clamped = static_cast<int>(std::min<long long>(extent, INT_MAX / 2));
    if (clamped > m_nMaxExtent)
        m_nMaxExtent = clamped;
    return clamped;
}

// ---- Filter, find, multiple selection, following, copy ----

int CMessageLogCtrl::GetRowCount() const
{
    return static_cast<int>(m_filter.IsActive() ? m_filter.Count() : m_rows.Count());
}

void CMessageLogCtrl::SetFilter(const wxString& query)
{
    const int count = GetRowCount();
    const long long keep = (m_nCurSel >= 0 && m_nCurSel < count) ? static_cast<long long>(StoreRow(m_nCurSel))
                           : m_nPendingSelRow >= 0               ? m_nPendingSelRow
                                                                 : -1;
    m_filterText = query.utf8_string();
    m_filter.SetQuery(m_filterText);
    m_selection.Clear();
    m_nCurSel = -1;
    m_nPendingSelRow = -1;
    m_nRowsWhilePaused = 0;
    m_nTopRow = 0;
    m_nVScrollPos = 0;
    m_nShownTopRow = -1;
    if (!m_filter.IsActive()) {
        if (keep >= 0)
            SetCurSel(static_cast<int>(keep));
        else if (m_bFollowing)
            ScrollRowsTo(GetVScrollLimit());
    } else {
        m_nPendingSelRow = keep;
        ContinueFilter(kFilterFirstSlice);
    }
    if (!GetHandle())
        return;
    UpdateScrollBars();
    Refresh(true);
}

bool CMessageLogCtrl::ContinueFilter(std::chrono::microseconds budget)
{
    if (!m_filter.IsActive())
        return true;
    const size_t before = m_filter.Count();
    const bool complete = m_filter.Scan(m_rows, SIZE_MAX, budget);
    if (m_filter.Count() != before || m_nPendingSelRow >= 0)
        ShowFilterProgress();
    return complete;
}

void CMessageLogCtrl::ShowFilterProgress()
{
    if (m_nPendingSelRow >= 0 && m_filter.Scanned() > static_cast<size_t>(m_nPendingSelRow)) {
        const size_t index = m_filter.FirstAtOrAfter(static_cast<size_t>(m_nPendingSelRow));
        const bool found =
            index < m_filter.Count() && m_filter.StoreRow(index) == static_cast<size_t>(m_nPendingSelRow);
        m_nPendingSelRow = -1;
        if (found) {
            SetCurSel(static_cast<int>(index));
            return;
        }
    }
    if (m_bFollowing) {
        m_nTopRow = GetVScrollLimit();
        m_nVScrollPos = m_nTopRow;
    }
    if (!GetHandle())
        return;
    UpdateScrollBars();
    RefreshRowsArea();
}

void CMessageLogCtrl::OnIdle(wxIdleEvent& event)
{
    event.Skip();
    if (IsFiltering() && !ContinueFilter(kFilterIdleSlice))
        event.RequestMore();
}

bool CMessageLogCtrl::FindNext(const wxString& query, bool forward)
{
    CLogQuery find;
    const int count = GetRowCount();
    if (!find.Parse(query.utf8_string()) || find.IsEmpty() || count == 0)
        return false;
    const int start = (m_nCurSel >= 0 && m_nCurSel < count) ? m_nCurSel : (forward ? -1 : count);
    for (int step = 1; step <= count; ++step) {
        const long long r = ((forward ? start + step : start - step) % count + count) % count;
        const int row = static_cast<int>(r);
        if (find.Matches(m_rows.Get(StoreRow(row)))) {
            SetCurSel(row);
            return true;
        }
    }
    return false;
}

void CMessageLogCtrl::SelectRow(int row, SelectMode mode)
{
    const int anchor = m_selection.Anchor();
    const CRowSelection before = mode == SELECT_TOGGLE ? m_selection : CRowSelection();
    SetCurSel(row);
    if (m_nCurSel < 0 || m_nCurSel >= GetRowCount() || mode == SELECT_ONE)
        return;
    if (mode == SELECT_EXTEND) {
        m_selection.SelectOnly(anchor >= 0 ? anchor : m_nCurSel);
        m_selection.ExtendTo(m_nCurSel);
    } else {
        m_selection = before;
        m_selection.Toggle(m_nCurSel);
    }
    RefreshRowsArea();
}

void CMessageLogCtrl::RefreshRowsArea()
{
    if (!GetHandle())
        return;
    const wxSize cs = GetClientSize();
    RefreshRect(wxRect(0, m_nHeaderHeight, cs.x, std::max(0, cs.y - m_nHeaderHeight)), false);
}

void CMessageLogCtrl::SetFollowing(bool following)
{
    if (following)
        m_nRowsWhilePaused = 0;
    m_bFollowing = following;
}

std::string CMessageLogCtrl::GetSelectionText(int column) const
{
    std::string out;
    for (const CRowSelection::Range& range : m_selection.Ranges()) {
        for (int row = range.first; row <= range.last && row < GetRowCount(); ++row) {
            const char* text = m_rows.Get(StoreRow(row));
            if (column < 0) {
                for (const char* p = text; *p; ++p)
                    out.push_back(*p == '\t' ? m_cCopySeparator : *p);
            } else {
                const char* cell = text;
                for (int i = 0; i < column && cell; ++i) {
                    cell = std::strchr(cell, '\t');
                    if (cell)
                        ++cell;
                }
                if (cell) {
                    const char* tab = std::strchr(cell, '\t');
                    size_t length = tab ? static_cast<size_t>(tab - cell) : std::strlen(cell);
                    while (length && cell[length - 1] == ' ')
                        --length;
                    out.append(cell, length);
                }
            }
            out.push_back('\n');
        }
    }
    return out;
}

bool CMessageLogCtrl::CopySelection(int column)
{
    std::string text;
    try {
        text = GetSelectionText(column);
    } catch (const std::bad_alloc&) {
        return false;   // a selection too large to copy: nothing goes to the clipboard
    }
    if (text.empty())
        return false;
    wxClipboardLocker lock;
    if (!lock)
        return false;
    return wxTheClipboard->SetData(new wxTextDataObject(wxString::FromUTF8(text)));
}

void CMessageLogCtrl::OnContextMenu(wxContextMenuEvent& event)
{
    if (!m_bEnabled)
        return;
    if (HasCapture())
        ReleaseMouse();   // a menu cannot open while the rows hold the pointer
    enum { ID_COPY = 1, ID_COPY_PAYLOAD, ID_SELECT_ALL };
    wxMenu menu;
    menu.Append(ID_COPY, "&Copy\tCtrl+C");
    menu.Append(ID_COPY_PAYLOAD, "Copy &payload");
    menu.AppendSeparator();
    menu.Append(ID_SELECT_ALL, "Select &all\tCtrl+A");
    const bool any = !m_selection.IsEmpty();
    menu.Enable(ID_COPY, any);
    menu.Enable(ID_COPY_PAYLOAD, any);
    const wxPoint at =
        event.GetPosition() == wxDefaultPosition ? wxDefaultPosition : ScreenToClient(event.GetPosition());
    switch (GetPopupMenuSelectionFromUser(menu, at)) {
    case ID_COPY:
        CopySelection();
        break;
    case ID_COPY_PAYLOAD:
        CopySelection(static_cast<int>(m_columns.size()) - 1);
        break;
    case ID_SELECT_ALL:
        m_selection.SelectAll(GetRowCount());
        RefreshRowsArea();
        break;
    default:
        break;
    }
}
