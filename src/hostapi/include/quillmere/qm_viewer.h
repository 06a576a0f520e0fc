// The Quillmere Client's plug-in contract: the callback object the client hands to a
// plug-in (IQMViewerBase) and the two interfaces a plug-in implements for it
// (IQMViewerPlugin, IQMViewerMenu). Shared by the client (qmhost) and every plug-in.
//
// Slots are in declaration order after the base interface's; every method returns an
// HRESULT. The dual interfaces are also reachable late-bound through IDispatch with
// dispatch identifiers 0x60020000 upward in slot order; IQMViewerBase's methods carry
// 0x60010000 upward.
#pragma once

#include "qmos/com.h"

namespace quillmere {

using qmos::BSTR;
using qmos::HRESULT;
using qmos::IID;
using qmos::LONG;
using qmos::SHORT;

// {785AAA97-CA26-439D-B6BE-B81D693C3F1D}
constexpr IID IID_IQMViewerBase = {0x785AAA97, 0xCA26, 0x439D,
                                   {0xB6, 0xBE, 0xB8, 0x1D, 0x69, 0x3C, 0x3F, 0x1D}};
// {F1B9D0F9-18BB-4B00-92C1-73E1C998DAEF}
constexpr IID IID_IQMViewerPlugin = {0xF1B9D0F9, 0x18BB, 0x4B00,
                                     {0x92, 0xC1, 0x73, 0xE1, 0xC9, 0x98, 0xDA, 0xEF}};
// {4A0BF898-9349-4C17-B580-6E27C617C01D}
constexpr IID IID_IQMViewerMenu = {0x4A0BF898, 0x9349, 0x4C17,
                                   {0xB5, 0x80, 0x6E, 0x27, 0xC6, 0x17, 0xC0, 0x1D}};

// The client's side: a plug-in calls it to publish and subscribe on the client's
// queues and to keep its settings. The client outlives its plug-ins.
struct IQMViewerBase : qmos::IUnknown {
  virtual HRESULT QMOS_COM_CALL NumMsgs(LONG newVoice, LONG savedVoice, LONG newFax, LONG savedFax,
                          LONG newEmail, LONG savedEmail) = 0;            // slot 3
  virtual HRESULT QMOS_COM_CALL SetStatusBarText(BSTR text) = 0;                        // slot 4
  virtual HRESULT QMOS_COM_CALL Alert(BSTR message) = 0;                                // slot 5
  virtual HRESULT QMOS_COM_CALL SetVisibleStatus(SHORT status) = 0;                     // slot 6
  virtual HRESULT QMOS_COM_CALL Publish(BSTR queue, BSTR data) = 0;                     // slot 7
  virtual HRESULT QMOS_COM_CALL Subscribe(BSTR queue) = 0;                              // slot 8
  virtual HRESULT QMOS_COM_CALL PutData(BSTR key, BSTR data) = 0;                       // slot 9
  virtual HRESULT QMOS_COM_CALL GetData(BSTR key, BSTR* data) = 0;                      // slot 10
  virtual HRESULT QMOS_COM_CALL DeleteData(BSTR key) = 0;                               // slot 11
  virtual HRESULT QMOS_COM_CALL MenuEnableDisable(SHORT menu_id, SHORT enabled) = 0;    // slot 12
  virtual HRESULT QMOS_COM_CALL MenuCheck(SHORT menuid, SHORT checked) = 0;             // slot 13
  virtual HRESULT QMOS_COM_CALL SetInfoAvailable() = 0;                                 // slot 14
  virtual HRESULT QMOS_COM_CALL ClearInfoAvailable() = 0;                               // slot 15
  virtual HRESULT QMOS_COM_CALL ClearAllInfoAvailable() = 0;                            // slot 16

 protected:
  ~IQMViewerBase() = default;
};

// A plug-in's main interface (dual).
struct IQMViewerPlugin : qmos::IDispatch {
  virtual HRESULT QMOS_COM_CALL Initialize(IQMViewerBase* callback) = 0;                // slot 7
  virtual HRESULT QMOS_COM_CALL Terminate() = 0;                                        // slot 8
  virtual HRESULT QMOS_COM_CALL HasGUI() = 0;                                           // slot 9
  virtual HRESULT QMOS_COM_CALL PlugInInfo(BSTR* short_description, BSTR* long_description,
                             BSTR* version, BSTR* tab_title) = 0;         // slot 10
  virtual HRESULT QMOS_COM_CALL Publish(BSTR queue, BSTR data) = 0;                     // slot 11

 protected:
  ~IQMViewerPlugin() = default;
};

// A plug-in's menu (dual), for plug-ins that add items to the client's menu bar.
struct IQMViewerMenu : qmos::IDispatch {
  virtual HRESULT QMOS_COM_CALL GetMenuStructure(BSTR* menu_structure) = 0;             // slot 7
  virtual HRESULT QMOS_COM_CALL MenuOptionSelected(SHORT menu_id) = 0;                  // slot 8

 protected:
  ~IQMViewerMenu() = default;
};

// Dispatch identifiers of the dual interfaces, by slot.
constexpr qmos::DISPID kDispIdFirstDual = 0x60020000;
constexpr qmos::DISPID kDispIdFirstBase = 0x60010000;

// Where the client lists its plug-ins: one subkey per class identifier under
// HKEY_LOCAL_MACHINE.
constexpr const char* kPluginsKey = "SOFTWARE\\Quillmere\\Viewer\\Plugins";

}  // namespace quillmere
