#pragma once
// Window messages: the message record, the Win32 message numbers the controls handle, and the
// helpers that pack and unpack their parameters.
#include <cstdint>

#include "platform/rtl/WinTypes.h"

// One message as a window procedure sees it. WParam and LParam are pointer-sized, so LParam can
// carry a pointer (a control, a hint record); Result is written back by the handler.
struct TMessage {
  UINT Msg{0};
  WPARAM WParam{0};
  LPARAM LParam{0};
  LRESULT Result{0};
};

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_PAINT = 0x000F;  // WParam: the device context to paint on
inline constexpr UINT WM_PRINTCLIENT = 0x0318;  // WParam: a device context to paint the client area into
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
inline constexpr UINT WM_MBUTTONDOWN = 0x0207;
inline constexpr UINT WM_MBUTTONUP = 0x0208;
inline constexpr UINT WM_MBUTTONDBLCLK = 0x0209;
inline constexpr UINT WM_USER = 0x0400;

// Key and button flags in the WParam of mouse messages.
inline constexpr WPARAM MK_LBUTTON = 0x0001;
inline constexpr WPARAM MK_RBUTTON = 0x0002;
inline constexpr WPARAM MK_SHIFT = 0x0004;
inline constexpr WPARAM MK_CONTROL = 0x0008;
inline constexpr WPARAM MK_MBUTTON = 0x0010;
inline constexpr WPARAM MK_ALT = 0x0020;  // not Win32: Alt has no MK_ flag there

// Hit-test answers.
inline constexpr LRESULT HTNOWHERE = 0;
inline constexpr LRESULT HTCLIENT = 1;

// Two signed 16-bit halves (X low) packed into an LPARAM, and back. Values outside -32768..32767
// wrap, as in a Win32 message.
constexpr LPARAM MAKELPARAM(int Low, int High) {
  return static_cast<LPARAM>(static_cast<std::int32_t>(
      (static_cast<std::uint32_t>(static_cast<std::uint16_t>(High)) << 16) |
      static_cast<std::uint16_t>(Low)));
}
constexpr int GET_X_LPARAM(LPARAM LParam) { return static_cast<std::int16_t>(LParam & 0xFFFF); }
constexpr int GET_Y_LPARAM(LPARAM LParam) { return static_cast<std::int16_t>((LParam >> 16) & 0xFFFF); }
