// A late-bound client as a script host runs it: the object by its ProgID, two calls
// through IDispatch, and a member it does not have. Each line says what happened.
var plugin = new ActiveXObject("VantiroPlugin.Vantiro");
WScript.Echo("created");
var gui = plugin.HasGUI();
WScript.Echo("HasGUI " + (gui === undefined ? "returned" : gui));
plugin.MenuOptionSelected(1202);
WScript.Echo("MenuOptionSelected returned");
try {
  plugin.NoSuchMember();
  WScript.Echo("NoSuchMember returned");
} catch (e) {
  WScript.Echo("NoSuchMember refused");
}
