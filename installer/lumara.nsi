; The setup program of the front panel software: the service, its message library and panel
; properties, the status sink for both bitnesses, the driver tools and a readme. Built by
; makensis on Linux (see CMakeLists.txt beside this file), which defines:
;   VERSION   the project version, e.g. 1.0.0
;   OUTFILE   the setup program to write
;   BIN64     folder of the x64 build (Lumara.exe, Lumara.DLL, Ostrel.dll, Brevick.exe, ...)
;   OSTREL32  the x86 Ostrel.dll
;   SRCDIR    this folder (DisplayProps.xml, README.txt)
; The setup is a 64-bit program, like the service it installs.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "StrFunc.nsh"
${StrStr}

!define PRODUCT "Lumara"
!define SERVICE "LUMARA"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumara"
!define LOG_NAME "setup.log"

Name "Lumara ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Lumara"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Lumara front panel"
VIAddVersionKey "FileDescription" "Lumara front panel setup"
VIAddVersionKey "FileVersion" "${VERSION}.0"
VIAddVersionKey "ProductVersion" "${VERSION}.0"
VIAddVersionKey "CompanyName" "Tarsel"
VIAddVersionKey "LegalCopyright" "Tarsel"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Log

; Appends one line to the setup's log in the installation folder and shows it.
!macro LogLine text
    DetailPrint "${text}"
    FileWrite $Log "${text}$\r$\n"
!macroend
!define LogLine "!insertmacro LogLine"

; Sets $0 to 1 when the service reports RUNNING, else 0.
!macro ServiceRunning un
    nsExec::ExecToStack '"$SYSDIR\sc.exe" query ${SERVICE}'
    Pop $1
    Pop $2
    ${${un}StrStr} $3 $2 "RUNNING"
    ${If} $3 == ""
        StrCpy $0 0
    ${Else}
        StrCpy $0 1
    ${EndIf}
!macroend

; Sets $0 to 1 when the two files have the same bytes, else 0.
!macro SameFile un a b
    StrCpy $0 0
    ClearErrors
    FileOpen $4 "${a}" r
    FileOpen $5 "${b}" r
    ${IfNot} ${Errors}
        StrCpy $0 1
        ${Do}
            ClearErrors
            FileReadByte $4 $6
            ${If} ${Errors}
                StrCpy $6 "end"
            ${EndIf}
            ClearErrors
            FileReadByte $5 $7
            ${If} ${Errors}
                StrCpy $7 "end"
            ${EndIf}
            ${If} $6 != $7
                StrCpy $0 0
                ${Break}
            ${EndIf}
        ${LoopUntil} $6 == "end"
    ${EndIf}
    FileClose $4
    FileClose $5
!macroend

Function .onInit
    SetRegView 64
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        MessageBox MB_ICONSTOP "The setup needs administrator rights." /SD IDOK
        SetErrorLevel 740
        Quit
    ${EndIf}
FunctionEnd

Section "Install"
    SetOutPath "$INSTDIR"
    FileOpen $Log "$INSTDIR\${LOG_NAME}" a
    FileSeek $Log 0 END
    ${LogLine} "Lumara ${VERSION} setup into $INSTDIR"

    ; An installed copy is stopped before its files are replaced.
    StrCpy $R9 0
    ReadRegStr $0 HKLM "SYSTEM\CurrentControlSet\Services\${SERVICE}" "ImagePath"
    ${If} $0 != ""
        StrCpy $R9 1
        ${LogLine} "Upgrading: stopping the installed service"
        ExecWait '"$INSTDIR\Lumara.exe" -stop -silent'
    ${EndIf}

    File "${BIN64}\Lumara.exe"
    File "${BIN64}\Lumara.DLL"
    File "${BIN64}\Brevick.exe"
    File "${BIN64}\BrevickLauncher.exe"
    File "/oname=README.txt" "${SRCDIR}\README.txt"
    SetOutPath "$INSTDIR\x64"
    File "${BIN64}\Ostrel.dll"
    SetOutPath "$INSTDIR\x86"
    File "${OSTREL32}"
    SetOutPath "$INSTDIR"

    ; A DisplayProps.xml that differs from this setup's default was changed by the user: kept.
    InitPluginsDir
    File "/oname=$PLUGINSDIR\DisplayProps.xml" "${SRCDIR}\DisplayProps.xml"
    ${If} ${FileExists} "$INSTDIR\DisplayProps.xml"
        !insertmacro SameFile "" "$INSTDIR\DisplayProps.xml" "$PLUGINSDIR\DisplayProps.xml"
        ${If} $0 == 0
            ${LogLine} "Kept the changed DisplayProps.xml"
        ${Else}
            CopyFiles /SILENT "$PLUGINSDIR\DisplayProps.xml" "$INSTDIR\DisplayProps.xml"
        ${EndIf}
    ${Else}
        CopyFiles /SILENT "$PLUGINSDIR\DisplayProps.xml" "$INSTDIR\DisplayProps.xml"
    ${EndIf}

    ; Each sink by the regsvr32 of its own bitness, into its own registry view.
    ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\x64\Ostrel.dll"' $0
    ${LogLine} "Registered the x64 status sink (regsvr32 exit code $0)"
    ClearErrors
    ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" /s "$INSTDIR\x86\Ostrel.dll"' $0
    ${If} ${Errors}
        ${LogLine} "Could not run the 32-bit regsvr32: the x86 status sink is not registered"
    ${Else}
        ${LogLine} "Registered the x86 status sink (regsvr32 exit code $0)"
    ${EndIf}

    ; The service: installed once (an upgrade keeps its registration), then started.
    ${If} $R9 == 0
        ExecWait '"$INSTDIR\Lumara.exe" -install -silent'
        ${LogLine} "Installed the service ${SERVICE}"
    ${EndIf}
    ExecWait '"$INSTDIR\Lumara.exe" -start -silent'
    !insertmacro ServiceRunning ""
    ${If} $0 == 1
        ${LogLine} "Started the service"
    ${Else}
        ${LogLine} "The service did not start (is the panel plugged in?); it stays installed and starts with Windows"
    ${EndIf}

    ; The panel's drivers, when their INF files are in a folder "drivers" beside the setup.
    ${If} ${FileExists} "$EXEDIR\drivers\FRONTPANEL.INF"
    ${AndIf} ${FileExists} "$EXEDIR\drivers\FRONTPANELKBRD.INF"
        CopyFiles /SILENT "$EXEDIR\drivers\FRONTPANEL.INF" "$INSTDIR\FRONTPANEL.INF"
        CopyFiles /SILENT "$EXEDIR\drivers\FRONTPANELKBRD.INF" "$INSTDIR\FRONTPANELKBRD.INF"
        ExecWait '"$INSTDIR\BrevickLauncher.exe"' $0
        ${LogLine} "Installed the panel drivers (BrevickLauncher exit code $0)"
    ${Else}
        ${LogLine} "No drivers folder with FRONTPANEL.INF and FRONTPANELKBRD.INF beside the setup: drivers not installed"
    ${EndIf}

    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Lumara front panel"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tarsel"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${LogLine} "Done"
    FileClose $Log
SectionEnd

Function un.onInit
    SetRegView 64
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        MessageBox MB_ICONSTOP "The uninstaller needs administrator rights." /SD IDOK
        SetErrorLevel 740
        Quit
    ${EndIf}
FunctionEnd

Section "Uninstall"
    ExecWait '"$INSTDIR\Lumara.exe" -stop -silent'
    ExecWait '"$INSTDIR\Lumara.exe" -uninstall -silent'
    DetailPrint "Stopped and removed the service ${SERVICE}"
    ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\x64\Ostrel.dll"'
    ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" /u /s "$INSTDIR\x86\Ostrel.dll"'
    DetailPrint "Unregistered the status sinks"

    InitPluginsDir
    File "/oname=$PLUGINSDIR\DisplayProps.xml" "${SRCDIR}\DisplayProps.xml"
    !insertmacro SameFile "un." "$INSTDIR\DisplayProps.xml" "$PLUGINSDIR\DisplayProps.xml"
    ${If} $0 == 1
        Delete "$INSTDIR\DisplayProps.xml"
    ${ElseIf} ${FileExists} "$INSTDIR\DisplayProps.xml"
        DetailPrint "Kept the changed $INSTDIR\DisplayProps.xml"
        MessageBox MB_ICONINFORMATION "Your changed DisplayProps.xml was kept in $INSTDIR." /SD IDOK
    ${EndIf}

    Delete "$INSTDIR\Lumara.exe"
    Delete "$INSTDIR\Lumara.DLL"
    Delete "$INSTDIR\Brevick.exe"
    Delete "$INSTDIR\BrevickLauncher.exe"
    Delete "$INSTDIR\FRONTPANEL.INF"
    Delete "$INSTDIR\FRONTPANELKBRD.INF"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\${LOG_NAME}"
    Delete "$INSTDIR\x64\Ostrel.dll"
    Delete "$INSTDIR\x86\Ostrel.dll"
    RMDir "$INSTDIR\x64"
    RMDir "$INSTDIR\x86"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
