// The identifiers and the type-library description of the VantiroPlugin library:
// the coclass Vantiro, its default interface IVantiro and the host interfaces it
// implements (IQMViewerPlugin, IQMViewerMenu from the client's contract).
//
// The constants are plain constexpr (internal linkage), never inline variables, so
// that the module holds no "unique" symbols and stays unloadable.
#pragma once

#include "qmos/com.h"
#include "qmos/type_lib.h"
#include "quillmere/qm_viewer.h"

namespace vantiro {

// Library "VantiroPlugin" {557FA17D-8169-4A4A-8F05-DA9CD98F5623}, version 1.0.
constexpr qmos::GUID LIBID_VantiroPlugin = {0x557FA17D, 0x8169, 0x4A4A,
                                            {0x8F, 0x05, 0xDA, 0x9C, 0xD9, 0x8F, 0x56, 0x23}};
// IVantiro {30A7297B-8347-4E92-ADE1-D88C59742B23}
constexpr qmos::IID IID_IVantiro = {0x30A7297B, 0x8347, 0x4E92,
                                    {0xAD, 0xE1, 0xD8, 0x8C, 0x59, 0x74, 0x2B, 0x23}};
// Coclass Vantiro {8E902927-A1DF-4A2F-8739-7725DBAEE5C7}
constexpr qmos::CLSID CLSID_Vantiro = {0x8E902927, 0xA1DF, 0x4A2F,
                                       {0x87, 0x39, 0x77, 0x25, 0xDB, 0xAE, 0xE5, 0xC7}};

constexpr qmos::WORD kVantiroPluginMajorVersion = 1;
constexpr qmos::WORD kVantiroPluginMinorVersion = 0;
constexpr qmos::LCID kVantiroPluginLcid = 0x409;

constexpr const char* kLibraryName = "VantiroPlugin";
constexpr const char* kLibraryHelpString = "Vantiro Plugin Library";
constexpr const char* kIVantiroName = "IVantiro";
constexpr const char* kIVantiroHelpString = "Interface for Vantiro Object";
constexpr const char* kCoclassName = "Vantiro";
constexpr const char* kCoclassHelpString = "Vantiro";
constexpr const char* kVantiroProgId = "VantiroPlugin.Vantiro";

// The coclass's default interface: OLE-automation compatible, no members of its own.
struct IVantiro : qmos::IUnknown {
 protected:
  ~IVantiro() = default;
};

// The library as RegisterTypeLib records it: IVantiro (OLE automation) and the two
// dual host interfaces.
qmos::TypeLibDesc VantiroTypeLibrary();

}  // namespace vantiro
