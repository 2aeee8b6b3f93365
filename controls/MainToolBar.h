#pragma once

#include <wx/image.h>
#include <wx/imaglist.h>
#include <wx/toolbar.h>

#include <memory>
#include <vector>

// The flat toolbar at the top of the main window. Its images come from the bitmap
// strips in the resources; the colour of each strip's first stored pixel is its mask.
// Every operation belongs to the user-interface thread.
class CMainToolBar : public wxToolBar {
public:
    // Which of the three image lists an image list is for.
    enum ImageListKind { TB_SETIMAGELIST = 0, TB_SETHOTIMAGELIST = 1, TB_SETDISABLEDIMAGELIST = 2 };

    // One entry of AddButtons: a button showing image `image` that sends `command`, or,
    // with command 0, a separator `image` pixels wide.
    struct TBBUTTON {
        int image;
        int command;
    };

    CMainToolBar();
    ~CMainToolBar() override;

    CMainToolBar(const CMainToolBar&) = delete;
    CMainToolBar& operator=(const CMainToolBar&) = delete;

    // Appends buttons (enabled, no text) and separators. Call after Create and before
    // Realize. Returns false when a button cannot be added.
    bool AddButtons(const TBBUTTON* buttons, int count);

    // Builds the image lists from bitmap resources: normal and hot, then disabled unless
    // disabledId is 0. Stops at the first that fails and returns false; the lists made
    // before it stay set.
    bool SetImageLists(int cx, int normalId, int hotId, int disabledId);

    // Builds one image list of cx-wide images from bitmap resource bitmapId and gives it
    // to the buttons as the kind of list named by `kind`. False, with nothing changed,
    // when the bitmap is missing, not a 24-bit BMP or narrower than one image.
    bool LoadImageList(int kind, int bitmapId, int cx);

    // The image list of a kind; null until one was loaded.
    const wxImageList* GetImageList(int kind) const;
    // The image a button shows; -1 for an unknown command.
    int GetButtonImage(int command) const;

private:
    void ApplyImageList(int kind);

    // The toolkit's toolbar keeps images per button, not per list: the lists and each
    // button's image number live here, as a native toolbar control would keep them.
    std::unique_ptr<wxImageList> m_imageLists[3];
    std::vector<TBBUTTON> m_buttons;
    wxImage m_doubleStrips[3];   // the strips drawn at twice the size, when there are
    int m_nDoubleWidth = 0;
};
