#include "controls/Accessible.h"

#include <wx/toolbar.h>
#include <wx/window.h>

#include <dlfcn.h>

// GTK's accessibility objects, reached through the functions the toolkit already loaded:
// the program is built without GTK's headers, and a desktop without them simply goes
// without names.
namespace {

struct AtkObject;
using GetAccessibleFn = AtkObject* (*)(void* widget);
using SetNameFn = void (*)(AtkObject* object, const char* name);
using GetNameFn = const char* (*)(AtkObject* object);
using RelationForNameFn = int (*)(const char* name);
using AddRelationshipFn = int (*)(AtkObject* object, int relation, AtkObject* target);
using NthItemFn = void* (*)(void* toolbar, int index);
using BinChildFn = void* (*)(void* bin);
using GetTypeFn = size_t (*)();
using IsAFn = int (*)(void* instance, size_t type);

template <class Fn>
Fn Find(const char* name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, name));
}

AtkObject* AccessibleOf(void* widget)
{
    static const auto get = Find<GetAccessibleFn>("gtk_widget_get_accessible");
    return widget && get ? get(widget) : nullptr;
}

AtkObject* AccessibleOf(wxWindow* window)
{
    return window ? AccessibleOf(static_cast<void*>(window->GetHandle())) : nullptr;
}

void SetName(AtkObject* object, const wxString& name)
{
    static const auto set = Find<SetNameFn>("atk_object_set_name");
    if (object && set)
        set(object, name.utf8_str());
}

wxString NameOf(AtkObject* object)
{
    static const auto get = Find<GetNameFn>("atk_object_get_name");
    const char* name = object && get ? get(object) : nullptr;
    return name ? wxString::FromUTF8(name) : wxString();
}

// The button inside a tool's item: what takes the focus and is read.
void* ToolWidget(wxToolBar* toolbar, int toolId)
{
    static const auto nth = Find<NthItemFn>("gtk_toolbar_get_nth_item");
    static const auto child = Find<BinChildFn>("gtk_bin_get_child");
    const int pos = toolbar ? toolbar->GetToolPos(toolId) : wxNOT_FOUND;
    if (pos == wxNOT_FOUND || !nth || !child)
        return nullptr;
    // The toolbar's own widget may be a box around the GTK toolbar.
    static const auto toolbarType = Find<GetTypeFn>("gtk_toolbar_get_type");
    static const auto isA = Find<IsAFn>("g_type_check_instance_is_a");
    void* bar = toolbar->GetHandle();
    if (!toolbarType || !isA || !bar)
        return nullptr;
    if (!isA(bar, toolbarType()))
        bar = child(bar);
    if (!bar || !isA(bar, toolbarType()))
        return nullptr;
    void* item = nth(bar, pos);
    return item ? child(item) : nullptr;
}

}   // namespace

void SetAccessibleName(wxWindow* window, const wxString& name)
{
    SetName(AccessibleOf(window), name);
}

void NameToolsByTheirHelp(wxToolBar* toolbar)
{
    for (size_t i = 0; toolbar && i < toolbar->GetToolsCount(); ++i) {
        const wxToolBarToolBase* tool = toolbar->GetToolByPos(static_cast<int>(i));
        if (tool && tool->IsButton() && !tool->GetShortHelp().empty())
            SetName(AccessibleOf(ToolWidget(toolbar, tool->GetId())), tool->GetShortHelp());
    }
}

void SetAccessibleLabel(wxWindow* field, wxWindow* caption)
{
    if (!field || !caption)
        return;
    wxString text = wxStripMenuCodes(caption->GetLabel()).Trim();
    if (text.EndsWith(":"))
        text.RemoveLast();
    AtkObject* fieldObject = AccessibleOf(field);
    SetName(fieldObject, text);
    static const auto relationFor = Find<RelationForNameFn>("atk_relation_type_for_name");
    static const auto add = Find<AddRelationshipFn>("atk_object_add_relationship");
    AtkObject* captionObject = AccessibleOf(caption);
    if (!relationFor || !add || !fieldObject || !captionObject)
        return;
    // Both ways, as GTK's own labels do; a refused relation leaves the name alone.
    add(fieldObject, relationFor("labelled-by"), captionObject);
    add(captionObject, relationFor("label-for"), fieldObject);
}

wxString GetAccessibleName(wxWindow* window)
{
    return NameOf(AccessibleOf(window));
}

wxString GetToolAccessibleName(wxToolBar* toolbar, int toolId)
{
    return NameOf(AccessibleOf(ToolWidget(toolbar, toolId)));
}
