#include "ui/res_gif_wnd_data.h"

#include <utility>

namespace vyn::features::splash {

res_gif_wnd_data::res_gif_wnd_data(HINSTANCE module, int gif_id, const wchar_t* gif_type, int icon_id,
                                   std::wstring window_title, std::wstring product_title)
    : module_(module),
      gif_id_(gif_id),
      icon_id_(icon_id),
      window_title_(std::move(window_title)),
      product_title_(std::move(product_title)) {
  if (IS_INTRESOURCE(gif_type)) {
    type_id_ = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(gif_type));
  } else {
    type_name_ = gif_type;
  }
}

std::vector<std::uint8_t> res_gif_wnd_data::gif_bytes() const {
  HRSRC found = ::FindResourceW(module_, MAKEINTRESOURCEW(gif_id_), type());
  if (!found) return {};
  HGLOBAL loaded = ::LoadResource(module_, found);
  const auto* bytes = static_cast<const std::uint8_t*>(loaded ? ::LockResource(loaded) : nullptr);
  if (!bytes) return {};
  return {bytes, bytes + ::SizeofResource(module_, found)};
}

HICON res_gif_wnd_data::icon() const {
  return static_cast<HICON>(
      ::LoadImageW(module_, MAKEINTRESOURCEW(icon_id_), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
}

}  // namespace vyn::features::splash
