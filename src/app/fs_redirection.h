#pragma once
// While it lives, a 32-bit process on 64-bit Windows sees the real system folder instead of the
// redirected one. Does nothing where there is no redirection.

namespace vyn::sfx {

class fs_redirection_auto {
 public:
  fs_redirection_auto() noexcept;
  ~fs_redirection_auto();
  fs_redirection_auto(const fs_redirection_auto&) = delete;
  fs_redirection_auto& operator=(const fs_redirection_auto&) = delete;

 private:
  void* previous_ = nullptr;
  bool disabled_ = false;
};

}  // namespace vyn::sfx
