#include "controls/TextLayouts.h"

#include <wx/fontutil.h>
#include <wx/graphics.h>

#include <pango/pangocairo.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

// Text laid out for one matrix lands on the same pixels under the other: the same
// scale, and an offset by whole pixels (a paint and a client DC of the same window).
bool SameGrid(const cairo_matrix_t& a, const cairo_matrix_t& b)
{
    const double dx = a.x0 - b.x0, dy = a.y0 - b.y0;
    return a.xx == b.xx && a.yx == b.yx && a.xy == b.xy && a.yy == b.yy && dx == std::floor(dx) &&
           dy == std::floor(dy);
}

}   // namespace

struct CTextLayouts::Impl {
    // What a layout was last laid out for: Pango's own update counts any matrix other
    // than the identity as a change, which would lay every kept text out again.
    struct Fit {
        cairo_matrix_t matrix;
        unsigned generation = 0;
    };

    cairo_t* cr = nullptr;
    cairo_matrix_t matrix;
    cairo_font_options_t* options = nullptr;   // the target's and the context's, as last seen
    unsigned generation = 1;                   // bumped when they change
    // Measuring needs no window: a context of its own on a one-pixel surface like the
    // last paint's target, whose text comes out laid out exactly as the paint's would
    // (measureFits), else measuring waits for the paint.
    cairo_t* measureCr = nullptr;
    bool measureFits = false;
    PangoFontDescription* font = nullptr;
    std::vector<PangoLayout*> layouts;
    std::vector<std::string> texts;
    std::vector<Fit> fits;

    ~Impl()
    {
        Drop();
        if (options)
            cairo_font_options_destroy(options);
        DropMeasuring();
    }

    static cairo_font_options_t* OptionsOf(cairo_t* context)
    {
        cairo_font_options_t* merged = cairo_font_options_create();
        cairo_surface_get_font_options(cairo_get_target(context), merged);
        cairo_font_options_t* own = cairo_font_options_create();
        cairo_get_font_options(context, own);
        cairo_font_options_merge(merged, own);
        cairo_font_options_destroy(own);
        return merged;
    }

    // Notes this paint's matrix and font options: the target's, as the context's own
    // amend them, which is what Pango lays text out for.
    void Watch()
    {
        cairo_get_matrix(cr, &matrix);
        cairo_font_options_t* now = OptionsOf(cr);
        if (options && cairo_font_options_equal(options, now)) {
            cairo_font_options_destroy(now);
            if (!measureCr)
                MakeMeasuring();
            return;
        }
        if (options)
            cairo_font_options_destroy(options);
        options = now;
        ++generation;
        MakeMeasuring();
    }

    void MakeMeasuring()
    {
        DropMeasuring();
        cairo_surface_t* surface =
            cairo_surface_create_similar(cairo_get_target(cr), CAIRO_CONTENT_COLOR_ALPHA, 1, 1);
        measureCr = cairo_create(surface);
        cairo_surface_destroy(surface);   // the context holds it
        cairo_font_options_t* own = cairo_font_options_create();
        cairo_get_font_options(cr, own);
        cairo_set_font_options(measureCr, own);
        cairo_font_options_destroy(own);
        cairo_font_options_t* got = OptionsOf(measureCr);
        measureFits =
            cairo_status(measureCr) == CAIRO_STATUS_SUCCESS && cairo_font_options_equal(got, options);
        cairo_font_options_destroy(got);
    }

    void DropMeasuring()
    {
        if (measureCr)
            cairo_destroy(measureCr);   // also a context in an error state
        measureCr = nullptr;
        measureFits = false;
    }

    void Drop()
    {
        for (PangoLayout* layout : layouts) {
            if (layout)
                g_object_unref(layout);
        }
        layouts.clear();
        texts.clear();
        fits.clear();
        if (font)
            pango_font_description_free(font);
        font = nullptr;
    }

    // The slot's layout holding text, laid out for this paint's context.
    PangoLayout* Layout(size_t slot, const char* text, size_t length)
    {
        if (slot >= layouts.size()) {
            layouts.resize(slot + 1, nullptr);
            texts.resize(slot + 1);
            fits.resize(slot + 1);
        }
        PangoLayout*& layout = layouts[slot];
        Fit& fit = fits[slot];
        if (!layout) {
            // As the toolkit's graphics context makes its layouts, so text lands alike.
            layout = pango_cairo_create_layout(cr);
            pango_layout_set_font_description(layout, font);
            pango_layout_set_text(layout, text, static_cast<int>(length));
            texts[slot].assign(text, length);
            fit = Fit{matrix, generation};
            return layout;
        }
        // A changed transformation or font options of this paint lay the text out again.
        if (fit.generation != generation || !SameGrid(fit.matrix, matrix)) {
            pango_cairo_update_layout(cr, layout);
            fit = Fit{matrix, generation};
        }
        if (texts[slot].compare(0, std::string::npos, text, length) != 0) {
            pango_layout_set_text(layout, text, static_cast<int>(length));
            texts[slot].assign(text, length);
        }
        return layout;
    }
};

CTextLayouts::CTextLayouts() : m_impl(new Impl) {}

CTextLayouts::~CTextLayouts() = default;

bool CTextLayouts::Begin(wxGraphicsContext* gc, const wxFont& font)
{
    Impl& d = *m_impl;
    d.cr = gc ? static_cast<cairo_t*>(gc->GetNativeContext()) : nullptr;
    const wxNativeFontInfo* info = font.IsOk() ? font.GetNativeFontInfo() : nullptr;
    if (!d.cr || !info || !info->description)
        return false;
    if (!d.font || !pango_font_description_equal(d.font, info->description)) {
        d.Drop();
        d.font = pango_font_description_copy(info->description);
    }
    d.Watch();
    return true;
}

bool CTextLayouts::BeginMeasuring(const wxFont& font)
{
    Impl& d = *m_impl;
    const wxNativeFontInfo* info = font.IsOk() ? font.GetNativeFontInfo() : nullptr;
    if (!d.measureFits || !d.font || !info || !info->description ||
        !pango_font_description_equal(d.font, info->description))
        return false;
    cairo_set_matrix(d.measureCr, &d.matrix);
    d.cr = d.measureCr;
    return true;
}

void CTextLayouts::Draw(size_t slot, const char* text, size_t length, int x, int y, const wxColour& colour)
{
    if (length == 0)
        return;
    Impl& d = *m_impl;
    PangoLayout* layout = d.Layout(slot, text, length);
    cairo_set_source_rgba(d.cr, colour.Red() / 255.0, colour.Green() / 255.0, colour.Blue() / 255.0,
                          colour.Alpha() / 255.0);
    cairo_move_to(d.cr, x, y);
    pango_cairo_show_layout(d.cr, layout);
}

wxSize CTextLayouts::Extent(size_t slot, const char* text, size_t length)
{
    if (length == 0)
        return wxSize(0, 0);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(m_impl->Layout(slot, text, length), &w, &h);
    return wxSize(w, h);
}
