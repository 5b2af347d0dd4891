; Installs in_realmedia.dll into the Plugins folder of a Winamp installation.
;
;   makensis -DDLL=path/to/in_realmedia.dll -DOUTFILE=path/to/setup.exe [-DWIN64] in_realmedia.nsi
;
; Without WIN64 this is the 32-bit installer users get, carrying the 32-bit
; DLL.  With WIN64 it is a 64-bit installer carrying a 64-bit build of the
; same sources: the twin the tests run where only 64-bit Wine works.
;
; Silent use: setup.exe /S [/D=C:\Path\To\Winamp] and, from the Plugins
; folder, uninstall_in_realmedia.exe /S.  Exit code 0 on success, 2 when the
; installation failed or was refused.

!ifndef DLL
  !error "define DLL, the plug-in to ship (see the head of this file)"
!endif
!ifndef OUTFILE
  !error "define OUTFILE, the installer to write (see the head of this file)"
!endif

; The version numbers live in one header, which the DLL's version resource reads
; too (makensis reads paths from the folder of this script).
!searchparse /file "../plugin/version.h" "#define IN_REALMEDIA_VERSION_MAJOR " V_MAJOR
!searchparse /file "../plugin/version.h" "#define IN_REALMEDIA_VERSION_MINOR " V_MINOR
!searchparse /file "../plugin/version.h" "#define IN_REALMEDIA_VERSION_PATCH " V_PATCH
!searchparse /file "../plugin/version.h" "#define IN_REALMEDIA_VERSION_BUILD " V_BUILD
!define VERSION "${V_MAJOR}.${V_MINOR}.${V_PATCH}"
!define FULL_VERSION "${V_MAJOR}.${V_MINOR}.${V_PATCH}.${V_BUILD}"

!define PRODUCT "in_realmedia"
!define PLUGIN_FILE "in_realmedia.dll"
!define UNINSTALLER "uninstall_in_realmedia.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\in_realmedia"
!define HOST_KEY "Software\Winamp"
!define HOST_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"
!define HOST_EXE "winamp.exe"
!define ENGINE_KEY "Software\RealNetworks\Preferences\DT_Common"
!define ENGINE_FILE "pnen3260.dll"

; The registry view is the plug-in's own: a 32-bit plug-in in a 32-bit host
; reads the 32-bit view (WOW6432Node on 64-bit Windows), and so does the
; 32-bit installer; the 64-bit twin reads the 64-bit view like its DLL.
!ifdef WIN64
  Target amd64-unicode
  !define REG_VIEW 64
  !define HOST_DEFAULT_DIR "$PROGRAMFILES64\Winamp"
!else
  Target x86-unicode
  !define REG_VIEW 32
  !define HOST_DEFAULT_DIR "$PROGRAMFILES32\Winamp"
!endif

Name "${PRODUCT} ${VERSION}"
Caption "${PRODUCT} ${VERSION}: RealAudio and RealMedia for Winamp"
OutFile "${OUTFILE}"
; Writing into Program Files and Add/Remove Programs for all users needs it.
RequestExecutionLevel admin
SetCompressor /SOLID lzma
; A file that cannot be written is retried or the installation stopped, never skipped.
AllowSkipFiles off
BrandingText "${PRODUCT} ${VERSION}"

; No copyright line of its own to show; and "setup" in the file name is meant:
; installers are expected to be named so (and to ask for administrator rights).
!pragma warning disable 9100
!pragma warning disable 9000
VIProductVersion "${FULL_VERSION}"
VIFileVersion "${FULL_VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${FULL_VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${FULL_VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Setup of the RealAudio and RealMedia input plug-in for Winamp"

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define MUI_ABORTWARNING
!define MUI_DIRECTORYPAGE_TEXT_TOP "$(DirectoryTop)"
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "$(DirectoryField)"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "$(FinishTitle)"
!define MUI_FINISHPAGE_TEXT "$(FinishText)"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The Plugins folder inside the chosen Winamp folder; messages name it.
Var PluginDir

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Korean"
!include /CHARSET=UTF8 "messages.nsh"


; In: a command line on the stack ("C:\Winamp\UninstWA.exe" /args, or an
; unquoted path).  Out: the folder of the program it names.
Function ProgramFolder
  Exch $0
  Push $1
  Push $2
  StrCpy $1 $0 1
  StrCmp $1 '"' 0 folder
  StrCpy $0 $0 "" 1
  StrCpy $2 0
  next:
    StrCpy $1 $0 1 $2
    StrCmp $1 "" cut
    StrCmp $1 '"' cut
    IntOp $2 $2 + 1
    Goto next
  cut:
  StrCpy $0 $0 $2
  folder:
  ${GetParent} $0 $0
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; The first folder holding winamp.exe among the host's own registrations;
; failing those, the first one registered; failing that, the default folder.
Function FindHostFolder
  StrCpy $3 ""
  ReadRegStr $0 HKCU "${HOST_KEY}" ""
  StrCmp $0 "" uninstall_entry
  StrCpy $3 $0
  IfFileExists "$0\${HOST_EXE}" found
  uninstall_entry:
  ReadRegStr $0 HKLM "${HOST_UNINSTALL_KEY}" "UninstallString"
  StrCmp $0 "" fallback
  Push $0
  Call ProgramFolder
  Pop $0
  StrCmp $0 "" fallback
  StrCmp $3 "" 0 +2
  StrCpy $3 $0
  IfFileExists "$0\${HOST_EXE}" found
  fallback:
  StrCpy $0 $3
  StrCmp $0 "" 0 found
  StrCpy $0 "${HOST_DEFAULT_DIR}"
  found:
  StrCpy $INSTDIR $0
FunctionEnd

Function .onInit
  SetRegView ${REG_VIEW}
  ; /D=folder sets $INSTDIR before this runs, and wins over the registry.
  StrCmp $INSTDIR "" 0 +2
  Call FindHostFolder
  ; A silent installation has nobody to ask whether a folder without Winamp
  ; is meant: it refuses instead of installing where no host will look.
  IfSilent 0 done
  IfFileExists "$INSTDIR\${HOST_EXE}" done
  SetErrorLevel 2
  Quit
  done:
FunctionEnd

Function DirectoryLeave
  IfFileExists "$INSTDIR\${HOST_EXE}" done
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
    "$(NoHostHere)" \
    /SD IDNO IDYES done
  Abort
  done:
FunctionEnd

; Stops the installation with exit code 2.  $R9 is 1 when this installation
; created the Plugins folder, which is then removed again if still empty.
!macro FailInstall TEXT
  MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
  StrCmp $R9 1 0 +2
  RMDir $PluginDir
  SetErrorLevel 2
  Abort "${TEXT}"
!macroend

Section "in_realmedia"
  StrCpy $PluginDir "$INSTDIR\Plugins"
  StrCpy $R9 0
  IfFileExists "$PluginDir\*.*" have_folder
  ClearErrors
  CreateDirectory $PluginDir
  IfErrors 0 created
  !insertmacro FailInstall "$(CannotCreate)"
  created:
  StrCpy $R9 1
  have_folder:

  ; Opening the DLL for writing first tells a copy held by a running Winamp
  ; from a folder that cannot be written, and changes nothing.
  try_open:
  ClearErrors
  FileOpen $0 "$PluginDir\${PLUGIN_FILE}" a
  IfErrors 0 writable
  IfFileExists "$PluginDir\${PLUGIN_FILE}" 0 cannot_write
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
    "$(InUse)" \
    /SD IDCANCEL IDRETRY try_open
  !insertmacro FailInstall "$(NotInstalledInUse)"
  cannot_write:
  !insertmacro FailInstall "$(CannotWrite)"
  writable:
  FileClose $0

  SetOutPath $PluginDir
  SetOverwrite on
  File "/oname=${PLUGIN_FILE}" "${DLL}"

  ClearErrors
  WriteUninstaller "$PluginDir\${UNINSTALLER}"
  IfErrors 0 uninstaller_written
  Delete "$PluginDir\${PLUGIN_FILE}"
  !insertmacro FailInstall "$(NoUninstaller)"
  uninstaller_written:

  SectionGetSize 0 $1
  ClearErrors
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION} (RealAudio and RealMedia input plug-in for Winamp)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${FULL_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kelvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$PluginDir"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$PluginDir\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$PluginDir\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "CreatedPluginsFolder" $R9
  IfErrors 0 +2
  MessageBox MB_OK|MB_ICONEXCLAMATION \
    "$(NoEntry)" \
    /SD IDOK

  ; The plug-in finds the engine as the registered folder joined to the file name.
  ReadRegStr $0 HKCR "${ENGINE_KEY}" ""
  StrCmp $0 "" no_engine
  IfFileExists "$0${ENGINE_FILE}" engine_found
  no_engine:
  MessageBox MB_OK|MB_ICONINFORMATION \
    "$(NoEngine)" \
    /SD IDOK
  engine_found:
SectionEnd

Function un.onInit
  SetRegView ${REG_VIEW}
FunctionEnd

; The uninstaller lives in the Plugins folder ($INSTDIR here) and removes
; only what the installer wrote there and its Add/Remove Programs entry.
Section "Uninstall"
  try_delete:
  ClearErrors
  Delete "$INSTDIR\${PLUGIN_FILE}"
  IfErrors 0 deleted
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
    "$(UninstallInUse)" \
    /SD IDCANCEL IDRETRY try_delete
  SetErrorLevel 2
  Abort "$(NotRemovedInUse)"
  deleted:
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "CreatedPluginsFolder"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only a Plugins folder Setup made, and only while empty.
  StrCmp $0 1 0 +2
  RMDir $INSTDIR
SectionEnd
