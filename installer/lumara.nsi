; The setup program of the front panel software: the service, its message library and panel
; properties, the status sink for both bitnesses, the driver tools and a readme. Built by
; makensis on Linux (see CMakeLists.txt beside this file), which defines:
;   VERSION   the project version, e.g. 1.0.0
;   OUTFILE   the setup program to write
;   BIN64     folder of the x64 build (Lumara.exe, Lumara.DLL, Ostrel.dll, Brevick.exe,
;             LumaraNowPlaying.exe, ...)
;   OSTREL32  the x86 Ostrel.dll
;   SRCDIR    the folder of DisplayProps.xml and README.txt (this one for the product)
; The setup is a 64-bit program, like the service it installs.
;
; How an install or upgrade goes (each step is logged in setup.log with its result):
;  1. An installed copy is found by the program list entry's InstallLocation; the setup goes
;     there (a /D= naming another folder is refused), and refuses an older version over a
;     newer one unless /FORCE is given.
;  2. The service is stopped through the service manager, and the setup waits until it reports
;     STOPPED (at most 30 s; otherwise nothing is changed and the setup fails).
;  3. The new files are written into update.new in the installation folder. Each one then
;     takes the place of the installed file, which is moved into update.old (a file that was not
;     there leaves a marker update.old\<name>.none). A file in use that cannot be moved is
;     replaced by its new copy at the next start of Windows (a run before that start clears
;     update.new, which voids that replacement, and replaces the file itself).
;  4. The required steps: the sinks' registration, the service's installation (first install)
;     and its start (a service that stops by itself, e.g. without a panel, is not a failure).
;     When one fails, the files are moved back from update.old, the old sinks registered again
;     and the service started again if it ran: the previous version is left as it was.
;  5. The drivers (optional), the uninstaller and the program list entry; update.old is
;     removed. LumaraNowPlaying.exe starts at every user's logon (the machine's Run key) and at
;     once for the signed-in user, unelevated, through the desktop shell. Running copies are
;     ended (LumaraNowPlaying.exe --quit) before its file is replaced or removed.
; Exit codes: 0 done; 3010 done, restart Windows to finish (files in use); 1603 a step failed,
; the previous state is kept; 1638 a newer version is installed (downgrade refused); 1639 /D=
; names another folder than the installed copy's; 740 no administrator rights.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "WordFunc.nsh"
!include "StrFunc.nsh"
${StrStr}

!define PRODUCT "Lumara"
!define SERVICE "LUMARA"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumara"
!define PROPS_HASH_VALUE "DisplayPropsDefaultSHA256"
!define LOG_NAME "setup.log"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define NOW_PLAYING "LumaraNowPlaying"
!define NEW "update.new"
!define OLD "update.old"
!define STOP_WAIT_MS 30000
!define START_WAIT_MS 30000

!define EXIT_REBOOT 3010
!define EXIT_FAILED 1603
!define EXIT_NEWER_INSTALLED 1638
!define EXIT_OTHER_FOLDER 1639

Name "Lumara ${VERSION}"
OutFile "${OUTFILE}"
; No default here: .onInit tells a /D= apart from none by an empty $INSTDIR.
InstallDir ""
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Lumara front panel"
VIAddVersionKey "FileDescription" "Lumara front panel setup"
VIAddVersionKey "FileVersion" "${VERSION}.0"
VIAddVersionKey "ProductVersion" "${VERSION}.0"
VIAddVersionKey "CompanyName" "Tarsel"
VIAddVersionKey "LegalCopyright" "Tarsel"

Page directory SkipDirectoryOnUpgrade
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Log
Var OldDir          ; the installed copy's folder, "" when none is installed
Var OldVersion
Var WasRunning      ; 1 when the service ran before the setup stopped it
Var Failed          ; "" or what failed
Var ServiceAdded    ; 1 when this run installed the service
Var Sink64          ; 1 when this run registered the x64 sink
Var Sink32
Var PropsHash       ; the SHA-256 of the DisplayProps.xml default installed, for the registry

; Appends one line to the setup's log in the installation folder and shows it.
!macro LogLine text
    DetailPrint "${text}"
    FileWrite $Log "${text}$\r$\n"
!macroend
!define LogLine "!insertmacro LogLine"

; Appends one line to the setup.log of <folder> (for refusals before the section runs).
!macro LogInto folder text
    ClearErrors
    FileOpen $9 "${folder}\${LOG_NAME}" a
    ${IfNot} ${Errors}
        FileSeek $9 0 END
        FileWrite $9 "${text}$\r$\n"
        FileClose $9
    ${EndIf}
!macroend

; Runs a command line and waits; $0 is its exit code, or "not started".
!macro RunStep cmdline
    ClearErrors
    ExecWait '${cmdline}' $0
    ${If} ${Errors}
        StrCpy $0 "not started"
    ${EndIf}
!macroend

; The service and file helpers, for the setup and (un.) for the uninstaller.
!macro Helpers un
; $0: the service's state (0 not installed, 1 STOPPED, 2 START_PENDING, 3 STOP_PENDING,
; 4 RUNNING, ...), $1 its Win32 exit code.
Function ${un}ServiceState
    Push $2
    Push $3
    Push $4
    StrCpy $0 0
    StrCpy $1 0
    System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1) p.r2'
    ${If} $2 != 0
        System::Call 'advapi32::OpenServiceW(p r2, w "${SERVICE}", i 4) p.r3'
        ${If} $3 != 0
            System::Call '*(i, i, i, i, i, i, i) p.r4'
            System::Call 'advapi32::QueryServiceStatus(p r3, p r4) i.r0'
            ${If} $0 != 0
                System::Call '*$4(i, i .r0, i, i .r1)'
            ${EndIf}
            System::Free $4
            System::Call 'advapi32::CloseServiceHandle(p r3)'
        ${EndIf}
        System::Call 'advapi32::CloseServiceHandle(p r2)'
    ${EndIf}
    Pop $4
    Pop $3
    Pop $2
FunctionEnd

; Asks the service manager to stop the service and waits until it is STOPPED (at most
; STOP_WAIT_MS). $0: the state then (0 not installed, 1 stopped), $2 the ms waited.
Function ${un}StopService
    Push $3
    Push $4
    Push $5
    System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1) p.r3'
    ${If} $3 != 0
        System::Call 'advapi32::OpenServiceW(p r3, w "${SERVICE}", i 0x24) p.r4'
        ${If} $4 != 0
            System::Call '*(i, i, i, i, i, i, i) p.r5'
            System::Call 'advapi32::ControlService(p r4, i 1, p r5)'
            System::Free $5
            System::Call 'advapi32::CloseServiceHandle(p r4)'
        ${EndIf}
        System::Call 'advapi32::CloseServiceHandle(p r3)'
    ${EndIf}
    StrCpy $2 0
    ${Do}
        Call ${un}ServiceState
        ${If} $0 <= 1
        ${OrIf} $2 >= ${STOP_WAIT_MS}
            ${Break}
        ${EndIf}
        Sleep 250
        IntOp $2 $2 + 250
    ${Loop}
    Pop $5
    Pop $4
    Pop $3
FunctionEnd

; $0: the SHA-256 of the file named on the stack, in hexadecimal, or "" when it cannot be read.
Function ${un}FileHash
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    Push $R6
    Push $R7
    Push $R8
    StrCpy $0 ""
    ClearErrors
    FileOpen $R1 $R0 r
    ${IfNot} ${Errors}
        FileSeek $R1 0 END $R2
        FileSeek $R1 0 SET
        IntOp $R3 $R2 + 1
        System::Alloc $R3
        Pop $R3
        System::Call 'kernel32::ReadFile(p R1, p R3, i R2, *i .R4, p 0) i.R5'
        FileClose $R1
        ${If} $R5 != 0
        ${AndIf} $R4 == $R2
            System::Call 'advapi32::CryptAcquireContextW(*p .R6, p 0, p 0, i 24, i 0xF0000000) i.R5'
            ${If} $R5 != 0
                System::Call 'advapi32::CryptCreateHash(p R6, i 0x800C, p 0, i 0, *p .R7) i.R5'
                ${If} $R5 != 0
                    System::Call 'advapi32::CryptHashData(p R7, p R3, i R2, i 0) i.R5'
                    System::Alloc 32
                    Pop $R8
                    System::Call 'advapi32::CryptGetHashParam(p R7, i 2, p R8, *i 32, i 0) i.R4'
                    ${If} $R5 != 0
                    ${AndIf} $R4 != 0
                        StrCpy $R4 0
                        ${Do}
                            IntPtrOp $R5 $R8 + $R4
                            System::Call '*$R5(&i1 .R5)'
                            IntOp $R5 $R5 & 0xFF
                            IntFmt $R5 "%02x" $R5
                            StrCpy $0 "$0$R5"
                            IntOp $R4 $R4 + 1
                        ${LoopUntil} $R4 >= 32
                    ${EndIf}
                    System::Free $R8
                    System::Call 'advapi32::CryptDestroyHash(p R7)'
                ${EndIf}
                System::Call 'advapi32::CryptReleaseContext(p R6, i 0)'
            ${EndIf}
        ${EndIf}
        System::Free $R3
    ${EndIf}
    Pop $R8
    Pop $R7
    Pop $R6
    Pop $R5
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd
!macroend
!insertmacro Helpers ""
!insertmacro Helpers "un."

; Waits until the service leaves the pending states (at most the ms on the stack) and reads
; its state into $0 and $1 as ServiceState does.
Function WaitServiceSettled
    Exch $2
    Push $3
    StrCpy $3 0
    ${Do}
        Call ServiceState
        ${If} $0 != 2
        ${AndIf} $0 != 3
            ${Break}
        ${EndIf}
        ${If} $3 >= $2
            ${Break}
        ${EndIf}
        Sleep 250
        IntOp $3 $3 + 250
    ${Loop}
    Pop $3
    Pop $2
FunctionEnd

; Every installed file but DisplayProps.xml, the log and the uninstaller, as <op> "<name>".
!macro ProductFiles op
    !insertmacro ${op} "Lumara.exe"
    !insertmacro ${op} "Lumara.DLL"
    !insertmacro ${op} "Brevick.exe"
    !insertmacro ${op} "BrevickLauncher.exe"
    !insertmacro ${op} "LumaraNowPlaying.exe"
    !insertmacro ${op} "README.txt"
    !insertmacro ${op} "x64\Ostrel.dll"
    !insertmacro ${op} "x86\Ostrel.dll"
!macroend

; Puts update.new\<f> in the place of <f>, keeping the installed one in update.old.
!macro Swap f
    ${If} ${FileExists} "$INSTDIR\${f}"
        ClearErrors
        Rename "$INSTDIR\${f}" "$INSTDIR\${OLD}\${f}"
        ${If} ${Errors}
            ClearErrors
            Rename /REBOOTOK "$INSTDIR\${NEW}\${f}" "$INSTDIR\${f}"
            ${If} ${Errors}
                StrCpy $Failed "replacing ${f}"
            ${Else}
                ${LogLine} "${f} is in use: its new copy replaces it at the next start of Windows"
            ${EndIf}
        ${Else}
            Rename "$INSTDIR\${NEW}\${f}" "$INSTDIR\${f}"
            ${If} ${Errors}
                StrCpy $Failed "moving the new ${f} into place"
            ${EndIf}
        ${EndIf}
    ${Else}
        FileOpen $9 "$INSTDIR\${OLD}\${f}.none" w
        FileClose $9
        ClearErrors
        Rename "$INSTDIR\${NEW}\${f}" "$INSTDIR\${f}"
        ${If} ${Errors}
            StrCpy $Failed "moving the new ${f} into place"
        ${EndIf}
    ${EndIf}
!macroend
!macro SwapIfFine f
    ${If} $Failed == ""
        !insertmacro Swap "${f}"
    ${EndIf}
!macroend

; Undoes Swap: the installed file back from update.old, or a file that was not there removed.
!macro Restore f
    ${If} ${FileExists} "$INSTDIR\${OLD}\${f}"
        Delete "$INSTDIR\${f}"
        Rename "$INSTDIR\${OLD}\${f}" "$INSTDIR\${f}"
    ${ElseIf} ${FileExists} "$INSTDIR\${OLD}\${f}.none"
        Delete "$INSTDIR\${f}"
        Delete "$INSTDIR\${OLD}\${f}.none"
    ${EndIf}
!macroend

; The uninstaller's removals: a file in use goes at the next start, and so does a folder that
; holds only such files (a folder that keeps a changed DisplayProps.xml stays).
!macro UnDelete f
    Delete /REBOOTOK "$INSTDIR\${f}"
!macroend
!macro UnRMDir dir
    RMDir "${dir}"
    ${If} ${RebootFlag}
    ${AndIf} ${FileExists} "${dir}\*.*"
        RMDir /REBOOTOK "${dir}"
    ${EndIf}
!macroend

; Ends the running copies of LumaraNowPlaying.exe of every user session (the program's --quit):
; $0 its exit code (0: none runs any more), "none" without the program.
!macro QuitNowPlaying
    StrCpy $0 "none"
    ${If} ${FileExists} "$INSTDIR\${NOW_PLAYING}.exe"
        !insertmacro RunStep '"$INSTDIR\${NOW_PLAYING}.exe" --quit'
    ${EndIf}
!macroend

; Starts LumaraNowPlaying.exe for the signed-in user: the desktop shell starts it, so it runs
; unelevated in that user's session like the copies the Run key starts. Without a desktop shell
; (a silent setup run by a deployment service) it starts at the next logon.
Function StartNowPlaying
    FindWindow $0 "Shell_TrayWnd"
    ${If} $0 != 0
        !insertmacro RunStep '"$WINDIR\explorer.exe" "$INSTDIR\${NOW_PLAYING}.exe"'
        ${LogLine} "Started ${NOW_PLAYING}.exe for the signed-in user through the desktop shell"
    ${Else}
        ${LogLine} "No desktop shell: ${NOW_PLAYING}.exe starts at the next logon"
    ${EndIf}
FunctionEnd

Function SkipDirectoryOnUpgrade
    ${If} $OldDir != ""
        Abort
    ${EndIf}
FunctionEnd

Function .onInit
    SetRegView 64
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        MessageBox MB_ICONSTOP "The setup needs administrator rights." /SD IDOK
        SetErrorLevel 740
        Quit
    ${EndIf}

    ReadRegStr $OldDir HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ReadRegStr $OldVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
    ${If} $OldDir == ""
        ${If} $INSTDIR == ""
            StrCpy $INSTDIR "$PROGRAMFILES64\Lumara"
        ${EndIf}
        Return
    ${EndIf}

    ; An upgrade goes into the installed copy's folder.
    ${If} $INSTDIR == ""
        StrCpy $INSTDIR $OldDir
    ${ElseIf} $INSTDIR != $OldDir
        !insertmacro LogInto $OldDir "Lumara ${VERSION} setup refused: Lumara $OldVersion is installed in $OldDir, not in $INSTDIR (uninstall it first to change the folder)"
        MessageBox MB_ICONSTOP "Lumara $OldVersion is installed in $OldDir. The setup upgrades it there; to install into $INSTDIR, uninstall it first." /SD IDOK
        SetErrorLevel ${EXIT_OTHER_FOLDER}
        Quit
    ${EndIf}

    ; An older version over a newer one only when forced.
    ${VersionCompare} $OldVersion "${VERSION}" $0
    ${If} $0 == 1
        ${GetParameters} $1
        ClearErrors
        ${GetOptions} $1 "/FORCE" $2
        ${If} ${Errors}
            !insertmacro LogInto $OldDir "Lumara ${VERSION} setup refused: the installed Lumara $OldVersion is newer (/FORCE installs the older version)"
            MessageBox MB_ICONSTOP "Lumara $OldVersion is installed, newer than this setup's ${VERSION}. Run the setup with /FORCE to install the older version." /SD IDOK
            SetErrorLevel ${EXIT_NEWER_INSTALLED}
            Quit
        ${EndIf}
    ${EndIf}
FunctionEnd

!macro LogRegisteredAgain bitness
    ${If} $0 == 0
        ${LogLine} "Registered the previous ${bitness} status sink again (regsvr32 exit code 0)"
    ${Else}
        ${LogLine} "Could not register the previous ${bitness} status sink again (regsvr32 exit code $0)"
    ${EndIf}
!macroend

; Undoes what this run changed (see the top of this file, step 4), after a failed step.
Function Rollback
    ${LogLine} "Failed: $Failed. Putting the previous state back"
    Call ServiceState
    ${If} $0 > 1
        Call StopService
    ${EndIf}
    ${If} $ServiceAdded == 1
        !insertmacro RunStep '"$INSTDIR\Lumara.exe" -uninstall -silent'
        ${LogLine} "Removed the service added by this run (Lumara.exe -uninstall exit code $0)"
    ${EndIf}
    ${If} $OldDir == ""
        ${If} $Sink64 == 1
            ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\x64\Ostrel.dll"'
        ${EndIf}
        ${If} $Sink32 == 1
            ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" /u /s "$INSTDIR\x86\Ostrel.dll"'
        ${EndIf}
    ${EndIf}
    !insertmacro ProductFiles Restore
    !insertmacro Restore "DisplayProps.xml"
    RMDir /r "$INSTDIR\${NEW}"
    RMDir /r "$INSTDIR\${OLD}"
    RMDir "$INSTDIR\x64"
    RMDir "$INSTDIR\x86"
    ${If} $OldDir != ""
        ; The previous sinks registered again (a failed run may have changed their entries).
        !insertmacro RunStep '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\x64\Ostrel.dll"'
        !insertmacro LogRegisteredAgain x64
        ${If} ${FileExists} "$WINDIR\SysWOW64\regsvr32.exe"
            !insertmacro RunStep '"$WINDIR\SysWOW64\regsvr32.exe" /s "$INSTDIR\x86\Ostrel.dll"'
            !insertmacro LogRegisteredAgain x86
        ${EndIf}
        ${If} $WasRunning == 1
            nsExec::Exec '"$SYSDIR\sc.exe" start ${SERVICE}'
            Pop $0
            Push ${START_WAIT_MS}
            Call WaitServiceSettled
            ${If} $0 == 4
                ${LogLine} "Started the previous service again"
            ${Else}
                ${LogLine} "The previous service did not start again (state $0, exit code $1)"
            ${EndIf}
        ${EndIf}
        ${If} ${FileExists} "$INSTDIR\${NOW_PLAYING}.exe"
            Call StartNowPlaying
        ${EndIf}
        ${LogLine} "Lumara $OldVersion is in place as before"
    ${Else}
        ${LogLine} "Nothing of Lumara ${VERSION} is installed"
    ${EndIf}
FunctionEnd

Section "Install"
    SetOutPath "$INSTDIR"
    FileOpen $Log "$INSTDIR\${LOG_NAME}" a
    FileSeek $Log 0 END
    ${LogLine} "Lumara ${VERSION} setup into $INSTDIR"
    ${If} $OldDir != ""
        ${LogLine} "Upgrading the installed Lumara $OldVersion"
    ${EndIf}
    ; What an interrupted earlier run left.
    RMDir /r "$INSTDIR\${NEW}"
    RMDir /r "$INSTDIR\${OLD}"

    ; 2. The service stopped through the service manager, whichever program it runs.
    StrCpy $WasRunning 0
    Call ServiceState
    ${If} $0 > 1
        StrCpy $WasRunning 1
        Call StopService
        ${If} $0 > 1
            ${LogLine} "Failed: the service did not stop within ${STOP_WAIT_MS} ms (state $0); nothing was changed"
            FileClose $Log
            MessageBox MB_ICONSTOP "The Lumara service did not stop; nothing was changed." /SD IDOK
            SetErrorLevel ${EXIT_FAILED}
            Quit
        ${EndIf}
        ${LogLine} "Stopped the service through the service manager (STOPPED after $2 ms)"
    ${EndIf}

    ; Copies of the old LumaraNowPlaying.exe would keep its file in use.
    !insertmacro QuitNowPlaying
    ${If} $0 == 0
        ${LogLine} "No ${NOW_PLAYING}.exe copy runs any more (--quit exit code 0)"
    ${ElseIf} $0 != "none"
        ${LogLine} "${NOW_PLAYING}.exe --quit exit code $0: a copy still running keeps its file in use"
    ${EndIf}

    ; 3. The new files beside the installed ones, then each in its place.
    SetOutPath "$INSTDIR\${NEW}"
    File "${BIN64}\Lumara.exe"
    File "${BIN64}\Lumara.DLL"
    File "${BIN64}\Brevick.exe"
    File "${BIN64}\BrevickLauncher.exe"
    File "${BIN64}\${NOW_PLAYING}.exe"
    File "/oname=README.txt" "${SRCDIR}\README.txt"
    File "${SRCDIR}\DisplayProps.xml"
    SetOutPath "$INSTDIR\${NEW}\x64"
    File "${BIN64}\Ostrel.dll"
    SetOutPath "$INSTDIR\${NEW}\x86"
    File "${OSTREL32}"
    SetOutPath "$INSTDIR"
    CreateDirectory "$INSTDIR\${OLD}\x64"
    CreateDirectory "$INSTDIR\${OLD}\x86"
    CreateDirectory "$INSTDIR\x64"
    CreateDirectory "$INSTDIR\x86"
    StrCpy $Failed ""
    !insertmacro ProductFiles SwapIfFine

    ; DisplayProps.xml is replaced unless it was changed since it was installed: its hash then
    ; differs from the one stored for the default installed. (A copy installed before the hash
    ; was stored counts as unchanged when it equals this setup's default.)
    Push "$INSTDIR\${NEW}\DisplayProps.xml"
    Call FileHash
    StrCpy $PropsHash $0
    ${If} ${FileExists} "$INSTDIR\DisplayProps.xml"
        ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "${PROPS_HASH_VALUE}"
        ${If} $1 == ""
            StrCpy $1 $PropsHash
        ${EndIf}
        Push "$INSTDIR\DisplayProps.xml"
        Call FileHash
        ${If} $0 == $1
        ${AndIf} $0 != ""
            !insertmacro SwapIfFine "DisplayProps.xml"
        ${Else}
            ${LogLine} "Kept the changed DisplayProps.xml"
            StrCpy $PropsHash $1
            Delete "$INSTDIR\${NEW}\DisplayProps.xml"
        ${EndIf}
    ${Else}
        !insertmacro SwapIfFine "DisplayProps.xml"
    ${EndIf}

    ; 4. The required steps. Each sink by the regsvr32 of its own bitness, into its own view.
    ${If} $Failed == ""
        StrCpy $Sink64 1
        !insertmacro RunStep '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\x64\Ostrel.dll"'
        ${If} $0 == 0
            ${LogLine} "Registered the x64 status sink (regsvr32 exit code 0)"
        ${Else}
            StrCpy $Failed "registering the x64 status sink (regsvr32 exit code $0)"
        ${EndIf}
    ${EndIf}
    ${If} $Failed == ""
        !insertmacro RunStep '"$WINDIR\SysWOW64\regsvr32.exe" /s "$INSTDIR\x86\Ostrel.dll"'
        ${If} $0 == "not started"
            ${LogLine} "Could not run the 32-bit regsvr32: the x86 status sink is not registered"
        ${ElseIf} $0 == 0
            StrCpy $Sink32 1
            ${LogLine} "Registered the x86 status sink (regsvr32 exit code 0)"
        ${Else}
            StrCpy $Sink32 1
            StrCpy $Failed "registering the x86 status sink (regsvr32 exit code $0)"
        ${EndIf}
    ${EndIf}

    ; The service: installed when it is not (an upgrade keeps its registration), then started.
    ; Lumara.exe's exit code is 0 whatever happened: the service manager says what did.
    ${If} $Failed == ""
        ReadRegStr $4 HKLM "SYSTEM\CurrentControlSet\Services\${SERVICE}" "ImagePath"
        ${StrStr} $2 $4 "$INSTDIR\Lumara.exe"
        Call ServiceState
        ${If} $0 != 0
        ${AndIf} $2 == ""
            ; A service of the same name running another folder's program: replaced by ours.
            !insertmacro RunStep '"$INSTDIR\Lumara.exe" -uninstall -silent'
            ${LogLine} "Removed the service that ran $4 (Lumara.exe -uninstall exit code $0)"
            Call ServiceState
        ${EndIf}
        ${If} $0 == 0
            !insertmacro RunStep '"$INSTDIR\Lumara.exe" -install -silent'
            StrCpy $3 $0
            Call ServiceState
            ReadRegStr $1 HKLM "SYSTEM\CurrentControlSet\Services\${SERVICE}" "ImagePath"
            ${StrStr} $2 $1 "$INSTDIR\Lumara.exe"
            ${If} $0 != 0
            ${AndIf} $2 != ""
                StrCpy $ServiceAdded 1
                ${LogLine} "Installed the service ${SERVICE} (Lumara.exe -install exit code $3)"
            ${Else}
                StrCpy $Failed "installing the service (Lumara.exe -install exit code $3; the service manager has no ${SERVICE} for $INSTDIR\Lumara.exe)"
            ${EndIf}
        ${EndIf}
    ${EndIf}
    ${If} $Failed == ""
        !insertmacro RunStep '"$INSTDIR\Lumara.exe" -start -silent'
        StrCpy $3 $0
        Push ${START_WAIT_MS}
        Call WaitServiceSettled
        ${If} $0 == 4
            ${LogLine} "Started the service (Lumara.exe -start exit code $3)"
        ${ElseIf} $0 == 1
        ${AndIf} $1 == 0
            ; The service ended its start itself: without a panel (or with a DisplayProps.xml
            ; it cannot read) it stops at once. It stays installed and starts with Windows.
            ${LogLine} "The service did not start (is the panel plugged in?): it stopped by itself at its start (Lumara.exe -start exit code $3; the Application event log says why); it stays installed and starts with Windows"
        ${Else}
            StrCpy $Failed "starting the service (Lumara.exe -start exit code $3; service state $0, service exit code $1)"
        ${EndIf}
    ${EndIf}

    ${If} $Failed != ""
        Call Rollback
        FileClose $Log
        MessageBox MB_ICONSTOP "The setup failed ($Failed). The previous state was put back; $INSTDIR\${LOG_NAME} says more." /SD IDOK
        SetErrorLevel ${EXIT_FAILED}
        Quit
    ${EndIf}
    RMDir /r /REBOOTOK "$INSTDIR\${OLD}"
    ; Only files waiting for the next start remain in update.new.
    RMDir /REBOOTOK "$INSTDIR\${NEW}\x64"
    RMDir /REBOOTOK "$INSTDIR\${NEW}\x86"
    RMDir /REBOOTOK "$INSTDIR\${NEW}"

    ; 5. The panel's drivers, when their INF files are in a folder "drivers" beside the setup.
    ; Optional: a failure is logged, the setup goes on (drivers can be installed later).
    ${If} ${FileExists} "$EXEDIR\drivers\FRONTPANEL.INF"
    ${AndIf} ${FileExists} "$EXEDIR\drivers\FRONTPANELKBRD.INF"
        CopyFiles /SILENT "$EXEDIR\drivers\FRONTPANEL.INF" "$INSTDIR\FRONTPANEL.INF"
        CopyFiles /SILENT "$EXEDIR\drivers\FRONTPANELKBRD.INF" "$INSTDIR\FRONTPANELKBRD.INF"
        !insertmacro RunStep '"$INSTDIR\BrevickLauncher.exe"'
        ${If} $0 == 0
            ${LogLine} "Ran the panel driver installer Brevick.exe (BrevickLauncher exit code 0)"
        ${Else}
            ${LogLine} "The panel drivers are not installed: BrevickLauncher could not run Brevick.exe (exit code $0)"
        ${EndIf}
    ${Else}
        ${LogLine} "No drivers folder with FRONTPANEL.INF and FRONTPANELKBRD.INF beside the setup: drivers not installed"
    ${EndIf}

    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Lumara front panel"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninstall.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tarsel"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "${PROPS_HASH_VALUE}" "$PropsHash"
    WriteRegStr HKLM "${RUN_KEY}" "${NOW_PLAYING}" '"$INSTDIR\${NOW_PLAYING}.exe"'
    Call StartNowPlaying
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${If} ${RebootFlag}
        ${LogLine} "Done; restart Windows to finish (exit code ${EXIT_REBOOT})"
        SetErrorLevel ${EXIT_REBOOT}
    ${Else}
        ${LogLine} "Done"
    ${EndIf}
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
    Call un.ServiceState
    ${If} $0 > 1
        Call un.StopService
        ${If} $0 > 1
            MessageBox MB_ICONSTOP "The Lumara service did not stop; nothing was removed." /SD IDOK
            SetErrorLevel ${EXIT_FAILED}
            Quit
        ${EndIf}
        DetailPrint "Stopped the service through the service manager"
    ${EndIf}
    ExecWait '"$INSTDIR\Lumara.exe" -uninstall -silent'
    Call un.ServiceState
    ${If} $0 == 0
        DetailPrint "Removed the service ${SERVICE}"
    ${Else}
        DetailPrint "The service ${SERVICE} could not be removed"
    ${EndIf}
    ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\x64\Ostrel.dll"'
    ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" /u /s "$INSTDIR\x86\Ostrel.dll"'
    DetailPrint "Unregistered the status sinks"
    DeleteRegValue HKLM "${RUN_KEY}" "${NOW_PLAYING}"
    !insertmacro QuitNowPlaying
    DetailPrint "${NOW_PLAYING}.exe --quit: exit code $0"

    ; DisplayProps.xml goes when it is still the default that was installed.
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "${PROPS_HASH_VALUE}"
    Push "$INSTDIR\DisplayProps.xml"
    Call un.FileHash
    ${If} $0 == $1
    ${AndIf} $0 != ""
        Delete "$INSTDIR\DisplayProps.xml"
    ${ElseIf} ${FileExists} "$INSTDIR\DisplayProps.xml"
        DetailPrint "Kept the changed $INSTDIR\DisplayProps.xml"
        MessageBox MB_ICONINFORMATION "Your changed DisplayProps.xml was kept in $INSTDIR." /SD IDOK
    ${EndIf}

    ; Files in use go at the next start of Windows.
    !insertmacro ProductFiles UnDelete
    !insertmacro UnDelete "FRONTPANEL.INF"
    !insertmacro UnDelete "FRONTPANELKBRD.INF"
    Delete "$INSTDIR\${LOG_NAME}"
    ${If} ${FileExists} "$INSTDIR\${NEW}\*.*"
        RMDir /r /REBOOTOK "$INSTDIR\${NEW}"
    ${EndIf}
    ${If} ${FileExists} "$INSTDIR\${OLD}\*.*"
        RMDir /r /REBOOTOK "$INSTDIR\${OLD}"
    ${EndIf}
    Delete "$INSTDIR\uninstall.exe"
    !insertmacro UnRMDir "$INSTDIR\x64"
    !insertmacro UnRMDir "$INSTDIR\x86"
    !insertmacro UnRMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ${If} ${RebootFlag}
        SetErrorLevel ${EXIT_REBOOT}
    ${EndIf}
SectionEnd
