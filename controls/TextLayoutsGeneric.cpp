#include "controls/TextLayouts.h"

// Toolkits without a layout object to keep write through their graphics context.
struct CTextLayouts::Impl {};

CTextLayouts::CTextLayouts() = default;

CTextLayouts::~CTextLayouts() = default;

bool CTextLayouts::Begin(wxGraphicsContext*, const wxFont&)
{
    return false;
}

bool CTextLayouts::BeginMeasuring(const wxFont&)
{
    return false;
}

void CTextLayouts::Draw(size_t, const char*, size_t, int, int, const wxColour&) {}

wxSize CTextLayouts::Extent(size_t, const char*, size_t)
{
    return wxSize(0, 0);
}
