#pragma once

#include <wx/bitmap.h>
#include <wx/colour.h>
#include <wx/font.h>
#include <wx/gdicmn.h>
#include <wx/string.h>
#include <wx/timer.h>
#include <wx/window.h>

#include <chrono>
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "controls/LogFilter.h"
#include "controls/LogRowStore.h"
#include "controls/RowSelection.h"
#include "controls/TextLayouts.h"

class wxContextMenuEvent;
class wxDC;
class wxFocusEvent;
class wxIdleEvent;
class wxKeyEvent;
class wxMouseCaptureLostEvent;
class wxMouseEvent;
class wxPaintEvent;
class wxScrollWinEvent;
class wxSizeEvent;
class wxTimerEvent;

// The custom-drawn, multi-column Message Log: a header of push-button faces, rows of
// TAB-separated cells, a selection following the mouse and the cursor keys (Shift and
// Ctrl select several rows), vertical scrolling by rows and horizontal scrolling by
// pixels. A filter may narrow the rows shown; row numbers are then those of the rows
// shown, in their order.
// Every operation belongs to the user-interface thread.
class CMessageLogCtrl : public wxWindow {
public:
    // Height of the header strip at the top of the client area, in pixels, for text of
    // the 8-point font's usual 13 pixels; larger text makes it taller (GetHeaderHeight).
    static constexpr int kHeaderHeight = 16;
    static int HeaderHeightFor(int textHeight) { return std::max(kHeaderHeight, textHeight + 3); }
    int GetHeaderHeight() const { return m_nHeaderHeight; }

    // Edges in client coordinates; right and bottom lie just outside, as for a RECT.
    struct LOGRECT {
        int left = 0, top = 0, right = 0, bottom = 0;
    };

    struct LOGCOLUMN {
        wxString title;
        int width = 0;
        LOGRECT rcHeader;   // set by the column layout
    };

    // Two-step creation: construct, then Create(); or construct and create at once.
    CMessageLogCtrl();
    CMessageLogCtrl(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
                    const wxSize& size = wxSize(400, 200), long style = wxBORDER_SUNKEN | wxVSCROLL);
    ~CMessageLogCtrl() override;

    CMessageLogCtrl(const CMessageLogCtrl&) = delete;
    CMessageLogCtrl& operator=(const CMessageLogCtrl&) = delete;

    // Creates the window as a child of parent. Both scroll bars, wanting all keys and
    // full repaint on resize are always added to style; each bar shows only while its
    // range exceeds its page. Afterwards no row is selected (GetCurSel() is -1).
    // Returns false when the window cannot be created.
    bool Create(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
                const wxSize& size = wxSize(400, 200), long style = wxBORDER_SUNKEN | wxVSCROLL);

    // Inserts a column of the given header title and width in pixels before column
    // `position` (clamped to 0 .. column count). The last column always reaches the
    // right edge of the header, whatever its width.
    void InsertColumn(const wxString& title, int width, int position);

    // Inserts a row at `position` (negative or past the end appends) and returns its
    // index. Cells are separated by TAB; the text is kept exactly as given, up to a NUL.
    // Once the index exceeds the page, the view moves so the new row is the last whole
    // row of the page. Returns -1 only when the row cannot be stored (no memory, a full
    // disk).
    // The control's state changes at once. The first row after a pause shows at once;
    // while rows keep coming the screen and the scroll bar follow at growing intervals,
    // up to a few times a second.
    int InsertRow(const wxString& text, int position);
    // The same for UTF-8 text; avoids a conversion when the caller already holds bytes.
    int InsertRow(const char* text, int position);

    // Removes one row; an index outside 0 .. count - 1 does nothing.
    void DeleteRow(int row);
    // Removes every row, resets both scroll positions and the widest extent, and leaves
    // the selection at 0 (one past the end: no row shows as selected).
    void DeleteAllRows();

    // The rows shown: all rows, or those matching the filter found so far.
    int GetRowCount() const;
    // Every row held, shown or not.
    int GetStoredRowCount() const { return static_cast<int>(m_rows.Count()); }
    // The selected row; -1 is none, and it may equal the row count.
    int GetCurSel() const { return m_nCurSel; }
    // Selects a row (clamped to 0 .. count - 1, so -1 with no rows) and scrolls it into
    // view. Does nothing before the window exists.
    void SetCurSel(int row);

    // Read-only views of the state, for the main window and for tests.
    // The row's text (UTF-8, NUL-terminated); nullptr for an index out of range. Old
    // rows are read back from the disk: the text is valid until the next call of the
    // control or the next paint.
    const char* GetRowText(int row) const;
    int GetColumnCount() const { return static_cast<int>(m_columns.size()); }
    const LOGCOLUMN& GetColumn(int col) const { return m_columns[static_cast<size_t>(col)]; }
    int GetTopRow() const { return m_nTopRow; }
    int GetRowsPerPage() const { return m_nRowsPerPage; }
    int GetRowHeight() const { return m_nRowHeight; }
    int GetVScrollPos() const { return m_nVScrollPos; }
    int GetHScrollPos() const { return m_nHScrollPos; }
    int GetMaxExtent() const { return m_nMaxExtent; }
    // Largest vertical position: max(0, row count - rows per page).
    int GetVScrollLimit() const;
    // Largest horizontal position: max(0, widest extent - client width + 1).
    int GetHScrollLimit() const;

    bool Enable(bool enable = true) override;

    // Shows only the rows that match a query (see CLogQuery); an empty one shows all.
    // The rows are found a slice at a time while the event loop idles; the selected row
    // stays selected once it is found, and is shown again when the filter is cleared.
    void SetFilter(const wxString& query);
    bool IsFilterActive() const { return m_filter.IsActive(); }
    bool IsFilterValid() const { return m_filter.GetQuery().IsValid(); }
    // True while rows remain to be looked at.
    bool IsFiltering() const { return m_filter.IsActive() && !m_filter.IsComplete(m_rows); }
    // Looks at rows for up to `budget`; true when no row remains. Idle time does this.
    bool ContinueFilter(std::chrono::microseconds budget);

    // Selects the next (or previous) shown row after the cursor that matches the query,
    // wrapping round, and scrolls to it. False when none matches.
    bool FindNext(const wxString& query, bool forward);

    // While the view is at the newest row, new rows keep it there. Scrolling up or
    // selecting an older row pauses that until the view is back at the bottom (End).
    bool IsFollowing() const { return m_bFollowing; }
    // Rows shown since following paused.
    int GetRowsWhilePaused() const { return m_nRowsWhilePaused; }

    const CRowSelection& GetSelection() const { return m_selection; }
    // Puts the selected rows on the clipboard, one line each, their cells joined by the
    // copy separator; with a column, only that cell of each row, trailing blanks cut.
    // False when there is nothing to copy or the clipboard cannot be had.
    bool CopySelection(int column = -1);
    // The text CopySelection puts on the clipboard.
    std::string GetSelectionText(int column = -1) const;
    void SetCopySeparator(char separator) { m_cCopySeparator = separator; }

private:
    // Event handlers; each one except OnPaint and the scroll handlers lets the default
    // processing run too.
    void OnPaint(wxPaintEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnSetFocus(wxFocusEvent& event);
    void OnKillFocus(wxFocusEvent& event);
    void OnLButtonDown(wxMouseEvent& event);
    void OnLButtonUp(wxMouseEvent& event);
    void OnMouseMove(wxMouseEvent& event);
    void OnDoubleClick(wxMouseEvent& event);
    void OnMouseWheel(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnScroll(wxScrollWinEvent& event);
    void OnIdle(wxIdleEvent& event);
    void OnContextMenu(wxContextMenuEvent& event);
    void OnVScroll(wxScrollWinEvent& event);
    void OnHScroll(wxScrollWinEvent& event);

    void Init();
    enum SelectMode { SELECT_ONE, SELECT_EXTEND, SELECT_TOGGLE };
    // Moves the cursor as SetCurSel does and selects as the mode says.
    void SelectRow(int row, SelectMode mode);
    void RefreshRowsArea();
    void SetFollowing(bool following);
    // The stored row behind a shown one.
    size_t StoreRow(int row) const
    {
        return m_filter.IsActive() ? m_filter.StoreRow(static_cast<size_t>(row)) : static_cast<size_t>(row);
    }
    // Brings the view up to date with the matches found so far.
    void ShowFilterProgress();
    int InsertRowBytes(const char* text, size_t length, int position);
    void LayoutColumns();
    void UpdateScrollBars();
    void ScrollRowsTo(int p);
    void MoveVThumb();
    void ScrollPixelsTo(int h);
    void InvalidateRowStrip(int row);
    void InvalidateRowsFrom(int row);
    void ShowInsertedRow(int row);
    void OnRowPaintTimer(wxTimerEvent& event);
    bool IsInRowsRect(const wxPoint& pt) const;
    class CTextPen;
    void PaintHeader(wxDC& dc, const wxSize& cs);
    // Writes the rows of the page from `first` (0 is the top row) up to `last`, excluded.
    void PaintRows(wxDC& dc, int first, int last, const wxSize& cs, const wxColour& background);
    void FillRowStrip(wxDC& dc, int top, int width, const wxColour& colour);
    // Fills page rows begin .. end - 1, all plain, and writes their cells a column at a time.
    void WritePlainRun(CTextPen& pen, int begin, int end, int width, const wxColour& background);
    void PaintSelectedRow(CTextPen& pen, int row, int top, int width, bool cursor);
    void MeasureRows(CTextPen& pen, int first, int last);
    bool GatherRowsToMeasure(CTextPen& pen, int first, int last);
    void UnmarkOverflowingRows(CTextPen& pen, size_t column);
    void MeasurePage();
    int ShownTopRow() const { return m_nShownTopRow >= 0 ? m_nShownTopRow : m_nTopRow; }
    // Writes a row's cells one by one and measures what that needs.
    void DrawRow(CTextPen& pen, int row, int top, const wxColour& background);
    void DrawPlainRow(CTextPen& pen, const char* text, int top);
    void DrawRowCells(wxDC& dc, const char* text, int top, const wxColour& background);
    void FillCellBox(wxDC& dc, int left, int top, int width, const wxColour& colour);
    int NoteExtent(int x, int width);

    wxFont m_font;
    std::vector<LOGCOLUMN> m_columns;
    CLogRowStore m_rows;
    int m_nRowHeight = 13;
    int m_nHeaderHeight = kHeaderHeight;
    int m_nCurSel = 0;
    int m_nTopRow = 0;
    // The top row of the last paint, -1 before any. During a burst the view's state runs
    // ahead of the screen; the pointer is over what the screen shows.
    int m_nShownTopRow = -1;
    int m_nRowsPerPage = 42;
    int m_nVScrollPos = 0;
    int m_nMaxExtent = 0;
    int m_nHScrollPos = 0;
    bool m_bEnabled = true;

    CLogFilter m_filter;
    std::string m_filterText;   // UTF-8
    CRowSelection m_selection;
    bool m_bFollowing = true;
    int m_nRowsWhilePaused = 0;
    // The stored row to select once the filter has looked at it; -1 when none.
    long long m_nPendingSelRow = -1;
    char m_cCopySeparator = '\t';

    // Last values handed to the scroll bars, so an append that changes nothing for a
    // bar does not go through the toolkit.
    struct ScrollBarState {
        int pos = -1, page = -1, range = -1;
    };
    ScrollBarState m_vBar, m_hBar;
    // Repaint and scroll-bar update for inserted rows: at most one per interval while
    // rows keep coming, the interval doubling up to the longest while they do;
    // m_nPendingRow is the first row waiting, INT_MAX when none.
    static constexpr int kRowPaintInterval = 40;       // ms
    static constexpr int kRowPaintIntervalMax = 320;   // ms
    wxTimer m_timerRowPaint;
    int m_nPendingRow = INT_MAX;
    int m_nRowPaintInterval = kRowPaintInterval;
    // The header's button faces as last drawn, and what they were drawn for.
    wxBitmap m_header;
    int m_nHeaderWidth = 0;
    int m_nHeaderScroll = 0;
    wxColour m_headerFace;
    // Text laid out by the last paints, kept for the next.
    CTextLayouts m_layouts;
    // Scratch space of the paint, reused from one paint to the next.
    std::vector<std::string> m_paintText;
    std::vector<int> m_paintLine;
    std::vector<int> m_paintRows;
    // Fractional wheel rotation carried over between wheel events.
    int m_nWheelRest = 0;
    // Reused for converting inserted text, so an append allocates nothing once warm.
    std::string m_strConvert;

    wxDECLARE_EVENT_TABLE();
};
