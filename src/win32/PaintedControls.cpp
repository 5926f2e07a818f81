#include "PaintedControls.h"

#include "WideText.h"

#include <windowsx.h>

#include <algorithm>

namespace pelmbus {

namespace {

// --- shape ---

LRESULT CALLBACK ShapeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    if (message != WM_PAINT) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    const auto* shape = reinterpret_cast<const TShape*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT area;
    GetClientRect(window, &area);
    FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
    if (shape != nullptr) {
        // One design pixel of outline, whatever the scale.
        const int pen = std::max(1, static_cast<int>(area.bottom / 18));
        HPEN outline = CreatePen(PS_INSIDEFRAME, pen, RGB(0, 0, 0));
        HBRUSH fill = CreateSolidBrush(ToColorRef(shape->BrushColor()));
        HGDIOBJ oldPen = SelectObject(dc, outline);
        HGDIOBJ oldBrush = SelectObject(dc, fill);
        const int corner = std::min(area.right, area.bottom) / 2;
        RoundRect(dc, 0, 0, area.right, area.bottom, corner, corner);
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        DeleteObject(outline);
        DeleteObject(fill);
    }
    EndPaint(window, &paint);
    return 0;
}

// --- speed button ---

struct TSpeedButtonState {
    const TSpeedButton* Model = nullptr;
    HFONT Font = nullptr;
    bool Pressed = false; // the mouse went down here and is held
    bool Inside = false;  // the mouse is over the button
    bool Tracking = false;
};

void DrawGlyph(HDC dc, TGlyph glyph, RECT box, bool enabled) {
    if (glyph == TGlyph::None) {
        return;
    }
    const int size = std::min(box.right - box.left, box.bottom - box.top);
    const int width = std::max(2, size / 6);
    COLORREF colour = glyph == TGlyph::Apply ? RGB(0, 128, 0) : RGB(192, 0, 0);
    if (!enabled) {
        colour = GetSysColor(COLOR_GRAYTEXT);
    }
    HPEN pen = CreatePen(PS_SOLID, width, colour);
    HGDIOBJ old = SelectObject(dc, pen);
    const int l = box.left + size / 6;
    const int t = box.top + size / 6;
    const int s = size - 2 * (size / 6);
    if (glyph == TGlyph::Apply) {
        const POINT tick[] = {{l, t + s / 2}, {l + s / 3, t + s - s / 6}, {l + s, t + s / 8}};
        Polyline(dc, tick, 3);
    } else {
        MoveToEx(dc, l, t, nullptr);
        LineTo(dc, l + s, t + s);
        MoveToEx(dc, l + s, t, nullptr);
        LineTo(dc, l, t + s);
    }
    SelectObject(dc, old);
    DeleteObject(pen);
}

void PaintSpeedButton(HWND window, const TSpeedButtonState& state) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT area;
    GetClientRect(window, &area);
    const bool enabled = IsWindowEnabled(window) != FALSE;
    const bool down = state.Pressed && state.Inside;
    const bool flat = state.Model != nullptr && state.Model->Flat;
    FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
    if (!flat) {
        RECT frame = area;
        DrawFrameControl(dc, &frame, DFC_BUTTON, DFCS_BUTTONPUSH | (down ? DFCS_PUSHED : 0));
    } else if (down || (state.Inside && enabled)) {
        RECT frame = area;
        DrawEdge(dc, &frame, down ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
    }
    if (state.Model == nullptr) {
        EndPaint(window, &paint);
        return;
    }
    const int shift = down ? 1 : 0;
    const int height = area.bottom - area.top;
    const std::wstring caption = WideFromUtf8(state.Model->Caption());
    // The picture is square, as high as the button less its frame.
    const int glyphSize = std::min(height - 6, 20 * height / 22);
    RECT glyph{0, 0, glyphSize, glyphSize};
    HGDIOBJ oldFont = SelectObject(dc, state.Font ? state.Font : GetStockObject(DEFAULT_GUI_FONT));
    SIZE text{0, 0};
    if (!caption.empty()) {
        GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
    }
    const int gap = caption.empty() ? 0 : glyphSize / 4;
    const int total = glyphSize + gap + text.cx;
    const int left = std::max<int>(3, (area.right - total) / 2) + shift;
    OffsetRect(&glyph, left, (height - glyphSize) / 2 + shift);
    DrawGlyph(dc, state.Model->Glyph, glyph, enabled);
    if (!caption.empty()) {
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        RECT textBox{glyph.right + gap, area.top + shift, area.right, area.bottom + shift};
        DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &textBox,
                  DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
    }
    SelectObject(dc, oldFont);
    EndPaint(window, &paint);
}

void Click(HWND window) {
    SendMessageW(GetParent(window), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), BN_CLICKED),
                 reinterpret_cast<LPARAM>(window));
}

LRESULT CALLBACK SpeedButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<TSpeedButtonState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE: {
        const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        state = new TSpeedButtonState;
        state->Model = static_cast<const TSpeedButton*>(create->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        break;
    }
    case WM_NCDESTROY:
        delete state;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        break;
    case WM_SETFONT:
        state->Font = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(lParam)) {
            InvalidateRect(window, nullptr, TRUE);
        }
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(state->Font);
    case WM_PAINT:
        PaintSpeedButton(window, *state);
        return 0;
    case WM_ENABLE:
        InvalidateRect(window, nullptr, TRUE);
        return 0;
    // Never takes the focus: the mouse is captured, not the keyboard.
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        state->Pressed = true;
        state->Inside = true;
        SetCapture(window);
        InvalidateRect(window, nullptr, TRUE);
        return 0;
    case WM_MOUSEMOVE: {
        RECT area;
        GetClientRect(window, &area);
        const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        const bool inside = PtInRect(&area, at) != FALSE;
        if (inside != state->Inside) {
            state->Inside = inside;
            InvalidateRect(window, nullptr, TRUE);
        }
        if (!state->Tracking) {
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
            state->Tracking = TrackMouseEvent(&track) != FALSE;
        }
        return 0;
    }
    case WM_MOUSELEAVE:
        state->Tracking = false;
        if (!state->Pressed) {
            state->Inside = false;
            InvalidateRect(window, nullptr, TRUE);
        }
        return 0;
    case WM_LBUTTONUP: {
        const bool click = state->Pressed && state->Inside;
        state->Pressed = false;
        ReleaseCapture();
        InvalidateRect(window, nullptr, TRUE);
        if (click) {
            Click(window);
        }
        return 0;
    }
    case WM_CAPTURECHANGED:
        if (state->Pressed) {
            state->Pressed = false;
            InvalidateRect(window, nullptr, TRUE);
        }
        return 0;
    case BM_CLICK:
        if (IsWindowEnabled(window)) {
            Click(window);
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

void RegisterPaintedControls(HINSTANCE instance) {
    WNDCLASSEXW shape{};
    shape.cbSize = sizeof shape;
    shape.lpfnWndProc = ShapeProc;
    shape.hInstance = instance;
    shape.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    shape.lpszClassName = ShapeClassName;
    RegisterClassExW(&shape);

    WNDCLASSEXW speed = shape;
    speed.style = CS_DBLCLKS;
    speed.lpfnWndProc = SpeedButtonProc;
    speed.lpszClassName = SpeedButtonClassName;
    RegisterClassExW(&speed);
}

} // namespace pelmbus
