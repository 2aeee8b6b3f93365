#pragma once

#include <wx/colour.h>
#include <wx/font.h>
#include <wx/gdicmn.h>

#include <cstddef>
#include <memory>

class wxGraphicsContext;

// Text of one font written and measured on a paint's graphics context, as the context
// itself would, but keeping each slot's laid-out text from one paint to the next: the
// toolkit lays a string out afresh at every call, which costs more than the drawing,
// and a repaint mostly writes what the last one wrote. Where the context is not one
// this can draw on, Begin says so and the caller goes through the context.
// User-interface thread only.
class CTextLayouts {
public:
    CTextLayouts();
    ~CTextLayouts();
    CTextLayouts(const CTextLayouts&) = delete;
    CTextLayouts& operator=(const CTextLayouts&) = delete;

    // Starts using gc, which must outlive the calls up to the next Begin; false when
    // text must be written through gc itself.
    bool Begin(wxGraphicsContext* gc, const wxFont& font);
    // Starts measuring, with no graphics context, for the next paint in the same font:
    // text measured now is laid out as that paint would, so it is not laid out again
    // there. False when no paint has shown how yet.
    bool BeginMeasuring(const wxFont& font);
    // Writes UTF-8 text with its top left at x, y. A slot keeps its text laid out: the
    // same text through the same slot is not laid out again.
    void Draw(size_t slot, const char* text, size_t length, int x, int y, const wxColour& colour);
    // Width of the widest line and height of all lines, in pixels.
    wxSize Extent(size_t slot, const char* text, size_t length);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
