; The Windows installer: the programs, their pictures and the demo clip in the user's own
; programs folder (no administrator needed), Start-menu entries and an uninstaller.
; makensis -DVERSION=1.0.0 -DSOURCE=<folder of the files> -DOUTFILE=<installer> camsteer.nsi

; A 64-bit installer, as the programs are: it also runs where only 64-bit Windows programs do.
Target amd64-unicode
SetCompressor /SOLID lzma
Name "camsteer ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\camsteer"
RequestExecutionLevel user

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\camsteer"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
    SetOutPath "$INSTDIR"
    File "${SOURCE}/camsteer.exe"
    File "${SOURCE}/camsteer_d.exe"
    File "${SOURCE}/camsteer_replay.exe"
    File "${SOURCE}/demo.avi"
    SetOutPath "$INSTDIR\images"
    File "${SOURCE}/images/*.*"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; As the Linux menu entry: learn the object from the camera, and show in the window why a
    ; camera cannot be used, since a program started from the menu has no console to read.
    CreateDirectory "$SMPROGRAMS\camsteer"
    CreateShortcut "$SMPROGRAMS\camsteer\camsteer.lnk" "$INSTDIR\camsteer.exe" \
        "--learn --show-failures"
    CreateShortcut "$SMPROGRAMS\camsteer\camsteer demo.lnk" "$INSTDIR\camsteer_replay.exe" \
        '"$INSTDIR\images\sample_blue.png" "$INSTDIR\demo.avi"'
    CreateShortcut "$SMPROGRAMS\camsteer\Uninstall camsteer.lnk" "$INSTDIR\uninstall.exe"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "camsteer"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    RMDir /r "$SMPROGRAMS\camsteer"
    Delete "$INSTDIR\camsteer.exe"
    Delete "$INSTDIR\camsteer_d.exe"
    Delete "$INSTDIR\camsteer_replay.exe"
    Delete "$INSTDIR\demo.avi"
    RMDir /r "$INSTDIR\images"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
