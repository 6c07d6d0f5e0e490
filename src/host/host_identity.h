// How Firefox knows the browser host: the native-messaging name (its manifest
// and registry key) and the one extension allowed to start it. The extension and
// the installer use these same values; plain literals, so scripts can read them.
#ifndef HALVANE_HOST_IDENTITY_H
#define HALVANE_HOST_IDENTITY_H

#define HALVANE_HOST_NAME "org.marrowin.halvane"
#define HALVANE_EXTENSION_ID "halvane@marrowin.org"
#define HALVANE_HOST_EXE "halvane-host.exe"
// Written beside the host by --register; the MSI installs the same file.
#define HALVANE_HOST_MANIFEST "org.marrowin.halvane.json"
// Under HKEY_CURRENT_USER; its default value is the manifest's full path.
#define HALVANE_HOST_KEY "Software\\Mozilla\\NativeMessagingHosts\\org.marrowin.halvane"
#define HALVANE_HOST_DESCRIPTION "Halvane: keeps a browser window on top, with your consent"

#endif
