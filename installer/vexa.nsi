; Setup of "Vexa - Message Manager", the Outlook add-in Corvane.dll.
;
; One setup program holds the add-in for 64-bit and for 32-bit Office and installs the one that
; matches the Outlook on the machine (an add-in must have Outlook's bitness, not Windows').
;   Vexa-Setup.exe [/S] [/x64 | /x86] [/D=C:\folder]
; /x64 and /x86 override the detection; /D= must come last and has no quotes, as usual.
;
; build-installer passes the inputs, so this file names no build folder:
;   makensis -DVERSION=0.1.0 -DDLL_X64=... -DDLL_X86=... -DVXHELP_EXE=... -DVXHELP_HTML=...
;            -DARCHIVE_SCRIPT=... -DOUTFILE=... vexa.nsi

Unicode true
ManifestDPIAware true
SetCompressor /SOLID lzma

!macro RequireDefine NAME
  !ifndef ${NAME}
    !error "Pass -D${NAME}=... to makensis (installer/build-installer does)"
  !endif
!macroend
!insertmacro RequireDefine VERSION
!insertmacro RequireDefine DLL_X64
!insertmacro RequireDefine DLL_X86
!insertmacro RequireDefine VXHELP_EXE
!insertmacro RequireDefine VXHELP_HTML
!insertmacro RequireDefine ARCHIVE_SCRIPT
!insertmacro RequireDefine OUTFILE

!define PRODUCT "Vexa - Message Manager"
!define APP_PATHS_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Corvane.dll"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexa"
; The add-in's own registration writes the Outlook key of the account that runs setup, which is an
; administrator's when setup was elevated with other credentials; this one serves every user.
!define MACHINE_ADDIN_KEY "Software\Microsoft\Office\Outlook\Addins\Corvane.Connect"
; The Add/Remove Programs entry remembers which build went where, for the uninstaller and for
; the next setup run.
!define BITNESS_VALUE "AddinBitness"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; Given a certificate, build-installer signs the program files it passes in and has makensis sign
; the uninstaller (before it is packed into the setup, keeping a copy) and the setup itself.
!ifdef SIGN_FILE
  !uninstfinalize '"${SIGN_FILE}" "%1" "${SIGNED_UNINSTALLER}"' = 0
  !finalize '"${SIGN_FILE}" "%1"' = 0
!endif
; The add-in's registration and its App Paths key live under HKLM and HKCR.
RequestExecutionLevel admin
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "${PRODUCT} Setup"
; Without it makensis warns; there is no copyright line to give.
VIAddVersionKey LegalCopyright ""

Var Bitness          ; x64 or x86: the build of Corvane.dll this run installs (or removes)
Var BitnessReason    ; why, for the details log and the directory page
Var PreviousBitness  ; what an earlier installation recorded, if any
Var PreviousFolder
Var KeptNote         ; the uninstaller's last words about the user's archive
Var RightsFailure    ; what could not be given or protected, empty when the rights are set
Var FinishNote       ; the finish page's text: where to find Vexa in Outlook

!define MUI_ABORTWARNING
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup will install the add-in for $BitnessReason$\r$\n$\r$\nThe folder also keeps your archive Corvane.mdb and the received and sent faxes (folder Attach)."
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$FinishNote"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$KeptNote"
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "English"

; ---------------------------------------------------------------------------------------------
; Registry views. App Paths and the COM classes are read through the view of the add-in's own
; bitness, so they are written there; the uninstall entry lives in the native view.

!macro AddinRegView
  ${If} $Bitness == "x64"
    SetRegView 64
  ${Else}
    SetRegView 32
  ${EndIf}
!macroend

!macro UninstallEntryRegView
  ${If} ${RunningX64}
    SetRegView 64
  ${Else}
    SetRegView 32
  ${EndIf}
!macroend

; Runs the regsvr32 of the add-in's bitness: the 64-bit one lives in System32, which a 32-bit
; program such as this setup only sees with file-system redirection off; the 32-bit one lives in
; SysWOW64 on 64-bit Windows. Leaves regsvr32's exit code, or "not started", in $0.
!macro RegSvr32 UN
Function ${UN}RegSvr32
  Exch $1  ; the switches and the quoted DLL path
  Push $2
  ClearErrors
  ${If} $Bitness == "x64"
    ${DisableX64FSRedirection}
    StrCpy $2 "$WINDIR\System32\regsvr32.exe"
    ExecWait '"$2" $1' $0
    ${EnableX64FSRedirection}
  ${Else}
    ${If} ${RunningX64}
      StrCpy $2 "$WINDIR\SysWOW64\regsvr32.exe"
    ${Else}
      StrCpy $2 "$SYSDIR\regsvr32.exe"
    ${EndIf}
    ExecWait '"$2" $1' $0
  ${EndIf}
  ${If} ${Errors}
    StrCpy $0 "not started"
  ${EndIf}
  DetailPrint "$2 $1: exit code $0"
  Pop $2
  Pop $1
FunctionEnd
!macroend
!insertmacro RegSvr32 ""
!insertmacro RegSvr32 "un."

; What an earlier setup run left in the Add/Remove Programs entry.
!macro ReadPrevious UN
Function ${UN}ReadPrevious
  !insertmacro UninstallEntryRegView
  ReadRegStr $PreviousBitness HKLM "${UNINSTALL_KEY}" "${BITNESS_VALUE}"
  ReadRegStr $PreviousFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
  SetRegView lastused
FunctionEnd
!macroend
!insertmacro ReadPrevious ""
!insertmacro ReadPrevious "un."

; ---------------------------------------------------------------------------------------------
; Which Office is there. Office 2010 and later record Outlook's bitness as "Bitness" under their
; version key: 64-bit Office in the 64-bit view, 32-bit Office in the 32-bit one (or, for
; Click-to-Run, in its Configuration "Platform"). Office 2007 and older exist only in 32 bits.
; Without any Outlook we go by what Office installs by default today: 64-bit on 64-bit Windows.

!macro CheckOutlookBitness VIEW VERSION
  ${If} $Bitness == ""
    SetRegView ${VIEW}
    ReadRegStr $0 HKLM "SOFTWARE\Microsoft\Office\${VERSION}\Outlook" "Bitness"
    ${If} $0 == "x64"
    ${OrIf} $0 == "x86"
      StrCpy $Bitness $0
      StrCpy $BitnessReason "Outlook ${VERSION} ($0) found"
    ${EndIf}
  ${EndIf}
!macroend

!macro CheckOldOutlook VERSION
  ${If} $Bitness == ""
    SetRegView 32
    ReadRegStr $0 HKLM "SOFTWARE\Microsoft\Office\${VERSION}\Outlook\InstallRoot" "Path"
    ${If} $0 != ""
      StrCpy $Bitness "x86"
      StrCpy $BitnessReason "Outlook ${VERSION} (x86) found"
    ${EndIf}
  ${EndIf}
!macroend

Function DetectOutlookBitness
  Push $0
  StrCpy $Bitness ""
  ${If} ${RunningX64}
    !insertmacro CheckOutlookBitness 64 "16.0"
    !insertmacro CheckOutlookBitness 64 "15.0"
    !insertmacro CheckOutlookBitness 64 "14.0"
  ${EndIf}
  !insertmacro CheckOutlookBitness 32 "16.0"
  !insertmacro CheckOutlookBitness 32 "15.0"
  !insertmacro CheckOutlookBitness 32 "14.0"
  ${If} $Bitness == ""
    SetRegView 64
    ReadRegStr $0 HKLM "SOFTWARE\Microsoft\Office\ClickToRun\Configuration" "Platform"
    ${If} $0 == "x64"
    ${OrIf} $0 == "x86"
      StrCpy $Bitness $0
      StrCpy $BitnessReason "Office Click-to-Run ($0) found"
    ${EndIf}
  ${EndIf}
  !insertmacro CheckOldOutlook "12.0"
  !insertmacro CheckOldOutlook "11.0"
  ${If} $Bitness == ""
    ${If} ${RunningX64}
      StrCpy $Bitness "x64"
      StrCpy $BitnessReason "no Outlook found; 64-bit Windows"
    ${Else}
      StrCpy $Bitness "x86"
      StrCpy $BitnessReason "no Outlook found; 32-bit Windows"
    ${EndIf}
  ${EndIf}
  SetRegView lastused
  Pop $0
FunctionEnd

; What keeps Outlook from using the add-in even when it is installed right: the new Outlook, which
; loads no COM add-ins, chosen by this account (a per-user preference), and for 64-bit Outlook a
; missing 64-bit Access engine (Jet 4.0 exists in 32 bits only). A provider's ProgID is seen in
; both registry views; its class is registered only in the view of its bitness.
!define NEW_OUTLOOK_KEY "Software\Microsoft\Office\16.0\Outlook\Preferences"

!macro FindAce64 VERSION
  ${If} $1 == ""
    ReadRegStr $0 HKCR "Microsoft.ACE.OLEDB.${VERSION}\CLSID" ""
    ${If} $0 != ""
      ReadRegStr $1 HKCR "CLSID\$0\InprocServer32" ""
    ${EndIf}
  ${EndIf}
!macroend

Function CheckOutlookCanLoadAddin
  Push $0
  Push $1
  StrCpy $FinishNote "${PRODUCT} has been installed. It starts with Outlook: look for the VX2 toolbar."
  ReadRegDWORD $0 HKCU "${NEW_OUTLOOK_KEY}" "UseNewOutlook"
  ${If} $0 == "1"
    StrCpy $FinishNote "${PRODUCT} has been installed. It works in classic Outlook only: this account uses the new Outlook, which loads no add-ins of this kind. Turn off $\"New Outlook$\" in Outlook to use Vexa."
    DetailPrint "This account uses the new Outlook, which loads no COM add-ins: Vexa works in classic Outlook only."
    MessageBox MB_ICONINFORMATION|MB_OK "This account uses the new Outlook, which loads no COM add-ins such as Vexa.$\r$\n$\r$\nVexa works in classic Outlook only: turn off $\"New Outlook$\" in Outlook to use it." /SD IDOK
  ${EndIf}
  ${If} $Bitness == "x64"
    StrCpy $1 ""
    SetRegView 64
    !insertmacro FindAce64 "16.0"
    !insertmacro FindAce64 "12.0"
    SetRegView lastused
    ${If} $1 == ""
      DetailPrint "NO 64-BIT DATABASE ENGINE found: the add-in for 64-bit Outlook opens the archive only with the 64-bit Microsoft Access Database Engine (Click-to-Run Office may keep its own inside Office)."
      MessageBox MB_ICONEXCLAMATION|MB_OK "Setup found no 64-bit Microsoft Access Database Engine. The add-in for 64-bit Outlook cannot open the archive without one: unless your Office brings its own (Microsoft 365 and other Click-to-Run Office keep it inside Office, out of Setup's sight), Outlook will say $\"Can't init$\" at every start.$\r$\n$\r$\nIf it does, install the 64-bit Microsoft Access Database Engine." /SD IDOK
    ${EndIf}
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/x64" $R1
  ${IfNot} ${Errors}
    StrCpy $Bitness "x64"
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/x86" $R1
  ${IfNot} ${Errors}
    ${If} $Bitness == "x64"
      MessageBox MB_ICONSTOP|MB_OK "Give either /x64 or /x86, not both." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
    StrCpy $Bitness "x86"
  ${EndIf}

  ${If} $Bitness == ""
    Call DetectOutlookBitness
  ${Else}
    StrCpy $BitnessReason "chosen with /$Bitness"
  ${EndIf}
  ${If} $Bitness == "x64"
  ${AndIfNot} ${RunningX64}
    MessageBox MB_ICONSTOP|MB_OK "The add-in for 64-bit Outlook cannot be installed on 32-bit Windows." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  ${If} $Bitness == "x64"
    StrCpy $BitnessReason "64-bit Outlook ($BitnessReason)."
  ${Else}
    StrCpy $BitnessReason "32-bit Outlook ($BitnessReason)."
  ${EndIf}

  ; /D= sets the folder before .onInit; otherwise the folder of an earlier installation, whatever
  ; its bitness, since it holds the user's archive; otherwise Program Files of the add-in's bitness.
  ${If} $INSTDIR == ""
    Call ReadPrevious
    StrCpy $INSTDIR $PreviousFolder
  ${EndIf}
  ${If} $INSTDIR == ""
    ${If} $Bitness == "x64"
      StrCpy $INSTDIR "$PROGRAMFILES64\Vexa"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES32\Vexa"
    ${EndIf}
  ${EndIf}
FunctionEnd

; ---------------------------------------------------------------------------------------------
; Install

; A program file that Outlook (or the help program) has loaded cannot be replaced. That is found
; out before anything is changed, so that an aborted run leaves the users their rights.
!macro CheckReplaceable NAME
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    ClearErrors
    FileOpen $0 "$INSTDIR\${NAME}" a
    ${If} ${Errors}
      StrCpy $1 "$1 ${NAME}"
    ${Else}
      FileClose $0
    ${EndIf}
  ${EndIf}
!macroend

Function CheckProgramFilesReplaceable
  Push $0
  Push $1
  StrCpy $1 ""
  !insertmacro CheckReplaceable "Corvane.dll"
  !insertmacro CheckReplaceable "VXHELP.exe"
  ${If} $1 != ""
    DetailPrint "Cannot replace the program files in $INSTDIR: in use:$1."
    MessageBox MB_ICONSTOP|MB_OK "The files of ${PRODUCT} in $INSTDIR are in use.$\r$\nClose Outlook and run Setup again." /SD IDOK
    Abort
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; An earlier installation of the other bitness, or in another folder, would leave COM classes and
; an App Paths key pointing at a DLL that Outlook can no longer load: remove them first.
Function ForgetPreviousInstallation
  Call ReadPrevious
  ${If} $PreviousBitness == ""
    Return
  ${EndIf}
  ${If} $PreviousBitness == $Bitness
  ${AndIf} $PreviousFolder == $INSTDIR
    Return
  ${EndIf}
  DetailPrint "Removing the registration of the earlier $PreviousBitness installation in $PreviousFolder"
  Push $Bitness
  StrCpy $Bitness $PreviousBitness
  ${If} ${FileExists} "$PreviousFolder\Corvane.dll"
    Push '/u /s "$PreviousFolder\Corvane.dll"'
    Call RegSvr32
  ${EndIf}
  !insertmacro AddinRegView
  DeleteRegKey HKLM "${APP_PATHS_KEY}"
  DeleteRegKey HKLM "${MACHINE_ADDIN_KEY}"
  SetRegView lastused
  Pop $Bitness
FunctionEnd

; Each program file is deleted before it is written: a file keeps its owner when it is written
; over, and a user who had created it (users may create files in the folder, for Jet's lock file)
; could otherwise change its rights and replace code that every user's Outlook loads.
Function CopyProgramFiles
  SetOutPath "$INSTDIR"
  ; "try" leaves a file that is in use (Outlook has the add-in loaded) in place and tells us.
  SetOverwrite try
  ClearErrors
  Delete "$INSTDIR\Corvane.dll"
  ${If} $Bitness == "x64"
    File "/oname=Corvane.dll" "${DLL_X64}"
  ${Else}
    File "/oname=Corvane.dll" "${DLL_X86}"
  ${EndIf}
  Delete "$INSTDIR\VXHELP.exe"
  File "/oname=VXHELP.exe" "${VXHELP_EXE}"
  Delete "$INSTDIR\VXHELP.html"
  File "/oname=VXHELP.html" "${VXHELP_HTML}"
  SetOverwrite on
  ${If} ${Errors}
    DetailPrint "Cannot replace the program files in $INSTDIR: they are in use."
    MessageBox MB_ICONSTOP|MB_OK "The files of ${PRODUCT} in $INSTDIR are in use.$\r$\nClose Outlook and run Setup again." /SD IDOK
    Abort
  ${EndIf}
  ; The add-in stores the faxes here but never creates the folder itself.
  CreateDirectory "$INSTDIR\Attach"
  ${IfNot} ${FileExists} "$INSTDIR\Attach\*.*"
    DetailPrint "Cannot create the folder $INSTDIR\Attach."
    MessageBox MB_ICONSTOP|MB_OK "Cannot create the folder $INSTDIR\Attach." /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

Function WriteUninstallEntry
  Delete "$INSTDIR\Uninstall.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  !insertmacro UninstallEntryRegView
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "${BITNESS_VALUE}" "$Bitness"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  SetRegView lastused
FunctionEnd

; An existing archive holds the user's messages: it is never replaced, only widened in place
; where an earlier setup made a column too narrow. A new one is made by the shipped script with
; the 32-bit script host, where Jet 4.0 lives. When that fails (no Jet and no Access engine) setup
; still completes: the add-in then says at start-up that it cannot open the archive, and running
; Setup again once an engine is there creates it.
Function CreateArchive
  StrCpy $3 ""
  ${If} ${FileExists} "$INSTDIR\Corvane.mdb"
    StrCpy $3 "existing"
  ${EndIf}
  InitPluginsDir
  File "/oname=$PLUGINSDIR\create-archive.vbs" "${ARCHIVE_SCRIPT}"
  ${If} ${RunningX64}
    StrCpy $1 "$WINDIR\SysWOW64\cscript.exe"
  ${Else}
    StrCpy $1 "$SYSDIR\cscript.exe"
  ${EndIf}
  ${If} $3 == "existing"
    DetailPrint "Keeping the existing archive $INSTDIR\Corvane.mdb; checking its columns"
  ${Else}
    DetailPrint "Creating the archive $INSTDIR\Corvane.mdb"
  ${EndIf}
  nsExec::ExecToStack '"$1" //NoLogo "$PLUGINSDIR\create-archive.vbs" "$INSTDIR\Corvane.mdb"'
  Pop $0  ; exit code, or "error" when cscript could not be started
  Pop $2  ; what the script said
  ${If} $2 != ""
    DetailPrint "$2"
  ${EndIf}
  ${If} $0 == "error"
    StrCpy $2 "The Windows Script Host ($1) could not be started."
  ${EndIf}
  ${If} $0 == "0"
  ${AndIf} ${FileExists} "$INSTDIR\Corvane.mdb"
    Return
  ${EndIf}
  ${If} $3 == "existing"
    DetailPrint "ARCHIVE NOT UPDATED: $INSTDIR\Corvane.mdb is kept as it was (exit code $0)."
    MessageBox MB_ICONEXCLAMATION|MB_OK "The archive $INSTDIR\Corvane.mdb is kept, but could not be checked or updated:$\r$\n$2$\r$\n$\r$\nAn archive made by an earlier setup takes fax numbers of at most 50 characters until it is. Close every program that has it open, make sure a database engine is installed, and run Setup again." /SD IDOK
    Return
  ${EndIf}
  DetailPrint "ARCHIVE NOT CREATED: $INSTDIR\Corvane.mdb is missing; Vexa cannot archive messages until it exists (exit code $0)."
  MessageBox MB_ICONEXCLAMATION|MB_OK "The archive $INSTDIR\Corvane.mdb could not be created:$\r$\n$2$\r$\n$\r$\nVexa is installed but cannot archive messages without it. Install the Microsoft Access Database Engine (or make sure Jet 4.0 works), then run Setup again: it creates only what is missing." /SD IDOK
FunctionEnd

Function WriteAppPath
  !insertmacro AddinRegView
  ClearErrors
  WriteRegStr HKLM "${APP_PATHS_KEY}" "" "$INSTDIR\Corvane.dll"
  SetRegView lastused
  ${If} ${Errors}
    DetailPrint "Cannot write HKLM\${APP_PATHS_KEY}."
    MessageBox MB_ICONSTOP|MB_OK "Cannot write the registry key HKLM\${APP_PATHS_KEY}, which tells the add-in where it is installed." /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

Function RegisterAddin
  Push '/s "$INSTDIR\Corvane.dll"'
  Call RegSvr32
  ${If} $0 != "0"
    DetailPrint "REGISTRATION FAILED: Corvane.dll was not registered (regsvr32 exit code $0); Outlook will not load Vexa."
    MessageBox MB_ICONSTOP|MB_OK "Corvane.dll could not be registered (regsvr32 exit code $0), so Outlook will not load Vexa.$\r$\n$\r$\nIs this the right build for your Outlook? This setup chose the $BitnessReason Run Setup with /x86 for 32-bit Outlook or /x64 for 64-bit Outlook." /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

; ---------------------------------------------------------------------------------------------
; Rights. Outlook runs unelevated, administrators' included, and with a manifest, so no file
; virtualisation helps: the users of the machine must be given the right to change the archive,
; to create and delete Jet's lock file Corvane.ldb beside it (any of them may be the one who opens
; or closes it last) and to write in Attach. Nothing else: the program files stay writable by
; administrators only, so that no user can replace code that another user's Outlook loads.
; Groups go by SID, which every language of Windows knows; icacls is used as Windows ships it.
!define SID_USERS "*S-1-5-32-545"
!define SID_ADMINISTRATORS "*S-1-5-32-544"
!define SID_SYSTEM "*S-1-5-18"

; Runs icacls with the arguments on the stack; a failure is remembered in $RightsFailure.
!macro Icacls UN
Function ${UN}Icacls
  Exch $1
  Push $0
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" $1'
  Pop $0
  ${If} $0 != "0"
    DetailPrint "icacls $1: exit code $0"
    StrCpy $RightsFailure "$RightsFailure$\r$\nicacls $1 (exit code $0)"
  ${EndIf}
  Pop $0
  Pop $1
FunctionEnd
!macroend
!insertmacro Icacls ""
!insertmacro Icacls "un."

; Files created in the folder inherit the users' right to change them (that is how every user
; reaches the lock file), so while setup writes program files the folder must not pass that on:
; the grants of an earlier run are withdrawn first and given again once the program files are
; protected.
Function WithdrawUsersRights
  StrCpy $RightsFailure ""
  ${If} ${FileExists} "$INSTDIR\*.*"
    Push '"$INSTDIR" /remove:g ${SID_USERS}'
    Call Icacls
  ${EndIf}
FunctionEnd

; The program files belong to the administrators and keep no inherited rights: SYSTEM and
; administrators may change them, the users only read and run them, wherever the folder is.
!macro ProtectProgramFile NAME
  Push '"$INSTDIR\${NAME}" /setowner ${SID_ADMINISTRATORS}'
  Call Icacls
  Push '"$INSTDIR\${NAME}" /inheritance:r /grant:r ${SID_SYSTEM}:(F) ${SID_ADMINISTRATORS}:(F) ${SID_USERS}:(RX)'
  Call Icacls
!macroend

Function ProtectProgramFiles
  !insertmacro ProtectProgramFile "Corvane.dll"
  !insertmacro ProtectProgramFile "VXHELP.exe"
  !insertmacro ProtectProgramFile "VXHELP.html"
  !insertmacro ProtectProgramFile "Uninstall.exe"
FunctionEnd

Function GrantUsersTheArchive
  ${If} $RightsFailure != ""
    ; A program file that could not be protected would inherit the users' rights below.
    StrCpy $RightsFailure "$RightsFailure$\r$\nThe program files could not be protected, so the users were given no rights."
  ${Else}
    ; The folder itself: read it and create files in it (the lock file), but not delete other
    ; files in it; files created in it, the lock file among them, may be changed by every user.
    Push '"$INSTDIR" /grant ${SID_USERS}:(RX,WD)'
    Call Icacls
    Push '"$INSTDIR" /grant ${SID_USERS}:(OI)(IO)(M)'
    Call Icacls
    ${If} ${FileExists} "$INSTDIR\Corvane.mdb"
      Push '"$INSTDIR\Corvane.mdb" /grant ${SID_USERS}:(M)'
      Call Icacls
    ${EndIf}
    Push '"$INSTDIR\Attach" /grant ${SID_USERS}:(OI)(CI)(M)'
    Call Icacls
  ${EndIf}
  ${If} $RightsFailure != ""
    DetailPrint "RIGHTS NOT SET: users other than administrators may be unable to archive messages.$RightsFailure"
    MessageBox MB_ICONEXCLAMATION|MB_OK "Setup could not set the rights in $INSTDIR:$RightsFailure$\r$\n$\r$\nVexa is installed, but Outlook may be unable to write the archive. Run Setup again as administrator." /SD IDOK
  ${EndIf}
FunctionEnd

Function WriteMachineAddinKey
  !insertmacro AddinRegView
  ClearErrors
  WriteRegStr HKLM "${MACHINE_ADDIN_KEY}" "FriendlyName" "${PRODUCT}"
  WriteRegStr HKLM "${MACHINE_ADDIN_KEY}" "Description" "Addin for work with J2 faxs from Microsoft Outlook"
  WriteRegDWORD HKLM "${MACHINE_ADDIN_KEY}" "LoadBehavior" 3
  SetRegView lastused
  ${If} ${Errors}
    DetailPrint "Cannot write HKLM\${MACHINE_ADDIN_KEY}: Outlook loads Vexa only for the account that ran setup."
  ${EndIf}
FunctionEnd

Section "Install"
  DetailPrint "Installing the add-in for $BitnessReason"
  Call CheckOutlookCanLoadAddin
  Call CheckProgramFilesReplaceable
  Call ForgetPreviousInstallation
  Call WithdrawUsersRights
  Call CopyProgramFiles
  ; The uninstaller comes early so that whatever happens below can be undone from Apps & features.
  Call WriteUninstallEntry
  Call ProtectProgramFiles
  Call CreateArchive
  Call GrantUsersTheArchive
  Call WriteAppPath
  Call RegisterAddin
  Call WriteMachineAddinKey
SectionEnd

; ---------------------------------------------------------------------------------------------
; Uninstall: the program and its registration go; the archive and the faxes in Attach are the
; user's data and stay.

Function un.onInit
  Call un.ReadPrevious
  StrCpy $Bitness $PreviousBitness
  ${If} $Bitness == ""
    ; An entry without the value: the build that setup would have picked by default.
    ${If} ${RunningX64}
      StrCpy $Bitness "x64"
    ${Else}
      StrCpy $Bitness "x86"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ${If} ${FileExists} "$INSTDIR\Corvane.dll"
    Push '/u /s "$INSTDIR\Corvane.dll"'
    Call un.RegSvr32
  ${EndIf}

  !insertmacro AddinRegView
  ReadRegStr $0 HKLM "${APP_PATHS_KEY}" ""
  ; Another installation of the add-in may own the key by now.
  ${If} $0 == ""
  ${OrIf} $0 == "$INSTDIR\Corvane.dll"
    DeleteRegKey HKLM "${APP_PATHS_KEY}"
    DeleteRegKey HKLM "${MACHINE_ADDIN_KEY}"
  ${EndIf}
  SetRegView lastused
  !insertmacro UninstallEntryRegView
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  SetRegView lastused

  ; Outlook may still hold the add-in: then it goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\Corvane.dll"
  Delete "$INSTDIR\VXHELP.exe"
  Delete "$INSTDIR\VXHELP.html"
  Delete "$INSTDIR\Uninstall.exe"
  ; Only what is empty goes: an Attach folder with faxes, or an archive, keeps the folder.
  RMDir "$INSTDIR\Attach"
  RMDir "$INSTDIR"
  ; A folder that stays keeps no rights that setup gave the users: none of them may create a
  ; file in it that a later installation would take for its own.
  ${If} ${FileExists} "$INSTDIR\*.*"
    Push '"$INSTDIR" /remove:g ${SID_USERS}'
    Call un.Icacls
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\Corvane.mdb"
    Push '"$INSTDIR\Corvane.mdb" /remove:g ${SID_USERS}'
    Call un.Icacls
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\Attach\*.*"
    Push '"$INSTDIR\Attach" /remove:g ${SID_USERS}'
    Call un.Icacls
  ${EndIf}

  ${If} ${FileExists} "$INSTDIR\Corvane.mdb"
  ${OrIf} ${FileExists} "$INSTDIR\Attach\*.*"
    StrCpy $KeptNote "${PRODUCT} has been removed.$\r$\n$\r$\nYour archive (Corvane.mdb) and the faxes in the Attach folder were kept in $INSTDIR. Delete them yourself when you no longer need them."
  ${Else}
    StrCpy $KeptNote "${PRODUCT} has been removed."
  ${EndIf}
  DetailPrint "$KeptNote"
SectionEnd
