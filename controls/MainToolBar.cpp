#include "controls/MainToolBar.h"

#include <wx/bitmap.h>
#include <wx/image.h>

#include <cstdint>
#include <cstring>

#include "res/Resources.h"

namespace {

uint32_t ReadU32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t ReadU16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// What the toolbar needs of a bitmap: its size, its first stored pixel and its pixels
// as an image. Only uncompressed 24-bit BMP files are taken.
struct BitmapDesc {
    int width = 0;
    int height = 0;
    unsigned char firstBlue = 0, firstGreen = 0, firstRed = 0;
};

bool DescribeBitmap(const ResourceBytes& res, BitmapDesc* desc, wxImage* image)
{
    const size_t kFileHeader = 14, kInfoHeader = 40;
    if (!res.data || res.size < kFileHeader + kInfoHeader || res.data[0] != 'B' || res.data[1] != 'M')
        return false;
    const unsigned char* info = res.data + kFileHeader;
    const uint32_t offset = ReadU32(res.data + 10);
    const uint32_t infoSize = ReadU32(info);
    const int32_t width = static_cast<int32_t>(ReadU32(info + 4));
    const int32_t rawHeight = static_cast<int32_t>(ReadU32(info + 8));
    if (infoSize < kInfoHeader || ReadU16(info + 12) != 1 || ReadU16(info + 14) != 24 ||
        ReadU32(info + 16) != 0 || width <= 0 || width > 65536 || rawHeight == 0 || rawHeight < -65536 ||
        rawHeight > 65536)
        return false;
    const bool bottomUp = rawHeight > 0;
    const int height = bottomUp ? rawHeight : -rawHeight;
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
    if (offset > res.size || stride * height > res.size - offset)
        return false;

    const unsigned char* bits = res.data + offset;
    desc->width = width;
    desc->height = height;
    desc->firstBlue = bits[0];
    desc->firstGreen = bits[1];
    desc->firstRed = bits[2];

    if (!image->Create(width, height, false))
        return false;
    unsigned char* rgb = image->GetData();
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = bits + stride * (bottomUp ? height - 1 - y : y);
        unsigned char* out = rgb + static_cast<size_t>(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            out[3 * x] = row[3 * x + 2];
            out[3 * x + 1] = row[3 * x + 1];
            out[3 * x + 2] = row[3 * x];
        }
    }
    return true;
}

}   // namespace

CMainToolBar::CMainToolBar() = default;

CMainToolBar::~CMainToolBar() = default;

bool CMainToolBar::AddButtons(const TBBUTTON* buttons, int count)
{
    // The toolkit wants a picture for every button; a transparent one stands in until
    // the image lists arrive.
    wxImage blank(16, 16);
    blank.SetAlpha();
    std::memset(blank.GetAlpha(), 0, 16 * 16);
    const wxBitmap placeholder(blank);

    for (int i = 0; i < count; ++i) {
        const TBBUTTON& button = buttons[i];
        if (button.command == 0) {
            AddSeparator();
            continue;
        }
        if (!AddTool(button.command, wxString(), placeholder))
            return false;
        m_buttons.push_back(button);
    }
    return true;
}

bool CMainToolBar::SetImageLists(int cx, int normalId, int hotId, int disabledId)
{
    if (!LoadImageList(TB_SETIMAGELIST, normalId, cx))
        return false;
    if (!LoadImageList(TB_SETHOTIMAGELIST, hotId, cx))
        return false;
    if (disabledId != 0 && !LoadImageList(TB_SETDISABLEDIMAGELIST, disabledId, cx))
        return false;
    return true;
}

bool CMainToolBar::LoadImageList(int kind, int bitmapId, int cx)
{
    if (kind < TB_SETIMAGELIST || kind > TB_SETDISABLEDIMAGELIST || cx <= 0)
        return false;
    BitmapDesc desc;
    wxImage strip;
    if (!DescribeBitmap(FindBitmapResource(bitmapId), &desc, &strip))
        return false;
    const int count = desc.width / cx;
    if (count <= 0)
        return false;

    // Every pixel of the first stored pixel's colour is transparent, wherever it lies.
    strip.SetMaskColour(desc.firstRed, desc.firstGreen, desc.firstBlue);
    auto list = std::make_unique<wxImageList>(cx, desc.height, true, count);
    for (int i = 0; i < count; ++i) {
        const wxBitmap image(strip.GetSubImage(wxRect(i * cx, 0, cx, desc.height)));
        if (!image.IsOk() || list->Add(image) < 0)
            return false;
    }
    m_imageLists[kind] = std::move(list);
    // The same pictures drawn at twice the size, for a screen of twice the resolution;
    // without them the toolkit enlarges the ordinary ones.
    BitmapDesc doubleDesc;
    m_doubleStrips[kind] = wxImage();
    if (DescribeBitmap(FindBitmapResource(bitmapId, 2), &doubleDesc, &m_doubleStrips[kind])) {
        m_doubleStrips[kind].SetMaskColour(doubleDesc.firstRed, doubleDesc.firstGreen, doubleDesc.firstBlue);
        m_nDoubleWidth = 2 * cx;
    }
    ApplyImageList(kind);
    return true;
}

const wxImageList* CMainToolBar::GetImageList(int kind) const
{
    if (kind < TB_SETIMAGELIST || kind > TB_SETDISABLEDIMAGELIST)
        return nullptr;
    return m_imageLists[kind].get();
}

int CMainToolBar::GetButtonImage(int command) const
{
    for (const TBBUTTON& button : m_buttons) {
        if (button.command == command)
            return button.image;
    }
    return -1;
}

void CMainToolBar::ApplyImageList(int kind)
{
    const wxImageList& list = *m_imageLists[kind];
    for (const TBBUTTON& button : m_buttons) {
        if (button.image < 0 || button.image >= list.GetImageCount())
            continue;
        wxBitmapBundle image(list.GetBitmap(button.image));
        const wxImage& strip = m_doubleStrips[kind];
        const wxRect rect(button.image * m_nDoubleWidth, 0, m_nDoubleWidth,
                          strip.IsOk() ? strip.GetHeight() : 0);
        if (strip.IsOk() && rect.GetRight() < strip.GetWidth())
            image =
                wxBitmapBundle::FromBitmaps(list.GetBitmap(button.image), wxBitmap(strip.GetSubImage(rect)));
        if (kind == TB_SETIMAGELIST)
            SetToolNormalBitmap(button.command, image);
        else if (kind == TB_SETDISABLEDIMAGELIST)
            SetToolDisabledBitmap(button.command, image);
        // The toolkit draws no separate hot image; the hot list is kept for callers.
    }
}
