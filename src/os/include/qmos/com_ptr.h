// An owning smart pointer for COM interfaces: releases its reference when it goes.
#pragma once

#include <utility>

#include "qmos/com.h"

namespace qmos {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Shares p: takes a new reference.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Adopts a reference the caller already owns.
  static ComPtr Attach(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Releases the current reference and returns the slot for an out-parameter.
  T** Out() {
    Reset();
    return &p_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // QueryInterface into another smart pointer.
  template <class U>
  HRESULT As(REFIID iid, ComPtr<U>& out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out.OutVoid());
  }

 private:
  T* p_ = nullptr;
};

}  // namespace qmos
