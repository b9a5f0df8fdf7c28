// What a person would notice at first sight of a dialog, read from its
// windows' own geometry: a control outside the dialog, two controls on top of
// each other, a text cut off by its control's edge.
#include <string>
#include <vector>

#include "tests/dialog_test_support.h"

namespace {

struct Control {
    HWND window;
    std::string name; // class, id and text, for the messages
    std::string text;
    std::string kind;
    LONG style;
    RECT box; // in the dialog's client coordinates
};

std::vector<Control> VisibleControls(HWND dialog)
{
    std::vector<Control> controls;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child))
            continue;
        Control control{child, "", "", "", GetWindowLongA(child, GWL_STYLE), {}};
        char kind[32] = {};
        GetClassNameA(child, kind, sizeof kind);
        control.kind = CharLowerA(kind);
        char text[256] = {};
        GetWindowTextA(child, text, sizeof text);
        control.text = text;
        control.name =
            control.kind + " " + std::to_string(GetDlgCtrlID(child)) + " \"" + control.text + "\"";
        GetWindowRect(child, &control.box);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&control.box), 2);
        controls.push_back(control);
    }
    return controls;
}

bool IsGroupBox(const Control& control)
{
    return control.kind == "button" && (control.style & BS_TYPEMASK) == BS_GROUPBOX;
}

bool Contains(const RECT& outer, const RECT& inner)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// The space the control's text has, and how DrawText lays the text out in
// it; false for controls whose text may run past their edge by design (an
// edit scrolls, SS_LEFTNOWORDWRAP cuts on purpose) or that show no text.
bool TextRoom(const Control& control, SIZE& room, UINT& format)
{
    RECT client;
    GetClientRect(control.window, &client);
    room = {client.right, client.bottom};
    format = DT_CALCRECT | DT_EXPANDTABS;
    if (control.kind == "static") {
        switch (control.style & SS_TYPEMASK) {
        case SS_LEFT:
        case SS_CENTER:
        case SS_RIGHT:
            format |= DT_WORDBREAK;
            break;
        case SS_SIMPLE:
            format |= DT_SINGLELINE;
            break;
        default:
            return false; // pictures, frames, SS_LEFTNOWORDWRAP
        }
        if (control.style & SS_NOPREFIX)
            format |= DT_NOPREFIX;
        return !control.text.empty();
    }
    if (control.kind != "button" || control.text.empty())
        return false;
    format |= DT_SINGLELINE;
    switch (control.style & BS_TYPEMASK) {
    case BS_GROUPBOX:
        room.cx -= 2 * GetSystemMetrics(SM_CXEDGE) + 8; // the frame's ends around the caption
        break;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE:
        room.cx -= GetSystemMetrics(SM_CXMENUCHECK) + 4; // the box and the gap after it
        break;
    default:
        room.cx -= 2 * GetSystemMetrics(SM_CXEDGE); // a push button's raised edge
        room.cy -= 2 * GetSystemMetrics(SM_CYEDGE);
        break;
    }
    return true;
}

// The size the text takes in the control's own font.
SIZE TextSize(const Control& control, const SIZE& room, UINT format)
{
    HDC context = GetDC(control.window);
    auto font = reinterpret_cast<HFONT>(SendMessageA(control.window, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(context, font != nullptr ? font : GetStockObject(SYSTEM_FONT));
    RECT bounds = {0, 0, room.cx, room.cy};
    DrawTextA(context, control.text.c_str(), -1, &bounds, format);
    SelectObject(context, previous);
    ReleaseDC(control.window, context);
    return {bounds.right - bounds.left, bounds.bottom - bounds.top};
}

std::string Corners(const RECT& box)
{
    return "(" + std::to_string(box.left) + "," + std::to_string(box.top) + ")-(" +
           std::to_string(box.right) + "," + std::to_string(box.bottom) + ")";
}

} // namespace

std::vector<std::string> LayoutFaults(HWND dialog)
{
    std::vector<std::string> faults;
    RECT client;
    GetClientRect(dialog, &client);
    const std::vector<Control> controls = VisibleControls(dialog);
    for (size_t i = 0; i < controls.size(); ++i) {
        const Control& control = controls[i];
        if (!Contains(client, control.box))
            faults.push_back(control.name + " at " + Corners(control.box) +
                             " reaches outside the dialog " + Corners(client));
        for (size_t j = i + 1; j < controls.size(); ++j) {
            const Control& other = controls[j];
            RECT common;
            if (!IntersectRect(&common, &control.box, &other.box))
                continue;
            // A group box frames the controls inside it.
            if ((IsGroupBox(control) && Contains(control.box, other.box)) ||
                (IsGroupBox(other) && Contains(other.box, control.box)))
                continue;
            faults.push_back(control.name + " and " + other.name + " overlap at " +
                             Corners(common));
        }
        SIZE room;
        UINT format;
        if (!TextRoom(control, room, format))
            continue;
        const SIZE needed = TextSize(control, room, format);
        if (needed.cx > room.cx || needed.cy > room.cy)
            faults.push_back(control.name + " needs " + std::to_string(needed.cx) + "x" +
                             std::to_string(needed.cy) + " for its text but has " +
                             std::to_string(room.cx) + "x" + std::to_string(room.cy));
    }
    return faults;
}
