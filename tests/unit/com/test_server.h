// Identities shared by the activation tests and the test server module.
#pragma once

#include "qmos/com.h"

namespace com_test {

// {6B1D3C2A-5E4F-4A7B-9C8D-0E1F2A3B4C5D}
constexpr qmos::CLSID kServerClsid = {
    0x6B1D3C2A, 0x5E4F, 0x4A7B, {0x9C, 0x8D, 0x0E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D}};
constexpr const char* kServerProgId = "QmosTest.Counter";

// {0D6C43E1-8F0B-4C52-A1D7-3B9E5F276A10}
constexpr qmos::IID IID_ICounter = {
    0x0D6C43E1, 0x8F0B, 0x4C52, {0xA1, 0xD7, 0x3B, 0x9E, 0x5F, 0x27, 0x6A, 0x10}};

struct ICounter : qmos::IUnknown {
  // Adds one to the object's own count and returns the new value.
  virtual qmos::HRESULT QMOS_COM_CALL Next(qmos::LONG* value) = 0;

 protected:
  ~ICounter() = default;
};

// Extra C entry points of the test server that let tests watch its state.
using PfnCount = int (*)();

}  // namespace com_test
