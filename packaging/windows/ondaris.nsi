; OndarisSetup.exe: installs the agent on a store's Windows machine.
;
; Built by the Windows build (packaging/windows/instalador.cmake) with
;   makensis -DVERSAO=1.0.0.0 -DEDITOR=... -DPROGRAMAS=<folder of the built
;            programs> -DSAIDA=<OndarisSetup.exe> ondaris.nsi
; It takes ondarisd.exe, and Ondaris.exe (the tray program) when the build
; made it, from PROGRAMAS.
;
; What it does, interactively or silently (/S):
;   - copies the programs into the folder (default "C:\Program Files\Ondaris",
;     /D=<folder> as the last option), stopping the service and the tray
;     program first when they run from there (an upgrade);
;   - writes korvin.ini from its template only when the folder has none: an
;     upgrade keeps the technician's file, and Ondaris.log, as they are;
;     /SERVIDOR= and /CAMINHO= set those two keys (on an upgrade too);
;   - start-menu entries for every user; the tray program at every user's
;     logon (HKLM Run key), unless /BANDEJA=0;
;   - the Windows service "Ondaris" (ondarisd.exe --install, then --start)
;     with /SERVICO=1 or its box ticked; an upgrade keeps the service as it
;     was, /SERVICO=0 removes it;
;   - an uninstaller (Desinstalar.exe, /S for silent) that removes the
;     service, the Run key, the start-menu entries and every file it
;     installed, korvin.ini and Ondaris.log included.
; A step that fails ends the installer with status 2 and one entry in
; Ondaris.log in the folder, in the agent's own format, naming the step and
; what the program said.

Target amd64-unicode
Unicode true
ManifestSupportedOS all
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!ifndef VERSAO
  !error "makensis -DVERSAO=x.y.z.w"
!endif
!ifndef PROGRAMAS
  !error "makensis -DPROGRAMAS=<folder of ondarisd.exe>"
!endif
!ifndef EDITOR
  !define EDITOR "Ondaris"
!endif
!ifndef SAIDA
  !define SAIDA "OndarisSetup.exe"
!endif
!if /FileExists "${PROGRAMAS}\Ondaris.exe"
  !define COM_BANDEJA
!endif

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"

!define CHAVE_DESINSTALAR "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ondaris"
!define CHAVE_RUN "Software\Microsoft\Windows\CurrentVersion\Run"
!define CHAVE_SERVICO "SYSTEM\CurrentControlSet\Services\Ondaris"
!define CHAVE_PROPRIA "Software\Ondaris"

Name "Ondaris"
OutFile "${SAIDA}"
InstallDir "$PROGRAMFILES64\Ondaris"
InstallDirRegKey HKLM "${CHAVE_PROPRIA}" "Pasta"
BrandingText "Ondaris ${VERSAO}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "PortugueseBR"

; The installer's version resource says what the programs' say.
VIProductVersion "${VERSAO}"
VIFileVersion "${VERSAO}"
VIAddVersionKey /LANG=${LANG_PORTUGUESEBR} "ProductName" "Ondaris"
VIAddVersionKey /LANG=${LANG_PORTUGUESEBR} "CompanyName" "${EDITOR}"
VIAddVersionKey /LANG=${LANG_PORTUGUESEBR} "ProductVersion" "${VERSAO}"
VIAddVersionKey /LANG=${LANG_PORTUGUESEBR} "FileVersion" "${VERSAO}"
VIAddVersionKey /LANG=${LANG_PORTUGUESEBR} "FileDescription" "Instalador do Ondaris"
VIAddVersionKey /LANG=${LANG_PORTUGUESEBR} "OriginalFilename" "OndarisSetup.exe"
VIAddVersionKey /LANG=${LANG_PORTUGUESEBR} "LegalCopyright" "${EDITOR}"


Var Servidor
Var Caminho
Var ServicoAntes   ; "1" when the service was installed before this run
Var Falhou

; One entry in Ondaris.log of the folder, as the agent writes them: an empty
; line, then "DD/MM/YYYY HH:mm:ss - message", CR LF after each, in UTF-8.
!macro DefinirRegistrarFalha PREFIXO
Function ${PREFIXO}RegistrarFalha
  Exch $R9
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  Push $R8
  ${GetTime} "" "L" $R0 $R1 $R2 $R3 $R4 $R5 $R6
  ClearErrors
  FileOpen $R7 "$INSTDIR\Ondaris.log" a
  ${IfNot} ${Errors}
    FileSeek $R7 0 END
    FileWrite $R7 "$\r$\n$R0/$R1/$R2 $R4:$R5:$R6 - "
    ; The message's bytes in UTF-8 (FileWrite would write the ANSI code page).
    System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w R9, i -1, p 0, i 0, p 0, p 0) i .R3'
    ${If} $R3 > 1
      System::Alloc $R3
      Pop $R2
      System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w R9, i -1, p R2, i R3, p 0, p 0) i .R8'
      IntOp $R3 $R3 - 1
      System::Call 'kernel32::WriteFile(p R7, p R2, i R3, *i .R8, p 0) i .R8'
      System::Free $R2
    ${EndIf}
    FileWrite $R7 "$\r$\n"
    FileClose $R7
  ${EndIf}
  DetailPrint "$R9"
  StrCpy $Falhou "1"
  SetErrorLevel 2
  Pop $R8
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
  Pop $R9
FunctionEnd
!macroend
!insertmacro DefinirRegistrarFalha ""
!insertmacro DefinirRegistrarFalha "un."

!macro RegistrarFalha TEXTO
  Push "${TEXTO}"
  !ifdef __UNINSTALL__
    Call un.RegistrarFalha
  !else
    Call RegistrarFalha
  !endif
!macroend

; Sets an installed program aside under another name, so that the new one
; can be written even while the old one still runs.
!macro AfastarPrograma ARQUIVO
  ${If} ${FileExists} "$INSTDIR\${ARQUIVO}"
    Delete "$INSTDIR\${ARQUIVO}.antigo"
    Rename "$INSTDIR\${ARQUIVO}" "$INSTDIR\${ARQUIVO}.antigo"
  ${EndIf}
!macroend

; Deletes a file, trying again for up to ten seconds while a process that
; has just stopped (the service) still holds it.
!macro ApagarComEspera ARQUIVO
  StrCpy $2 0
  ${Do}
    ClearErrors
    Delete "${ARQUIVO}"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    IntOp $2 $2 + 1
    ${If} $2 >= 40
      !insertmacro RegistrarFalha "Desinstalador: ${ARQUIVO} não pôde ser apagado"
      ${Break}
    ${EndIf}
    Sleep 250
  ${Loop}
!macroend

; Runs ondarisd.exe with one service command; a failure is logged with what
; the program said.
!macro Servico COMANDO DESCRICAO
  nsExec::ExecToStack '"$INSTDIR\ondarisd.exe" ${COMANDO}'
  Pop $0
  Pop $1
  ${If} $0 != "0"
    !insertmacro RegistrarFalha "Instalador: ${DESCRICAO} falhou (ondarisd.exe ${COMANDO}, status $0): $1"
  ${EndIf}
!macroend


Section "Ondaris (obrigatório)" SecPrincipal
  SectionIn RO
  SetRegView 64
  SetShellVarContext all
  SetOutPath "$INSTDIR"

  ; An upgrade: nothing may run from the files about to be replaced.
  ${If} $ServicoAntes == "1"
  ${AndIf} ${FileExists} "$INSTDIR\ondarisd.exe"
    nsExec::ExecToStack '"$INSTDIR\ondarisd.exe" --stop'
    Pop $0
    Pop $1
  ${EndIf}
!ifdef COM_BANDEJA
  ${If} ${FileExists} "$INSTDIR\Ondaris.exe"
    nsExec::ExecToStack 'taskkill /F /IM Ondaris.exe'
    Pop $0
    Pop $1
  ${EndIf}
!endif

  ; A program that has only just ended may still hold its file for a moment;
  ; a running one may be renamed, never overwritten: the old file is set
  ; aside and deleted (at the next restart when it is still held).
  !insertmacro AfastarPrograma "ondarisd.exe"
!ifdef COM_BANDEJA
  !insertmacro AfastarPrograma "Ondaris.exe"
!endif
  ClearErrors
  File "${PROGRAMAS}\ondarisd.exe"
!ifdef COM_BANDEJA
  File "${PROGRAMAS}\Ondaris.exe"
!endif
  ${If} ${Errors}
    !insertmacro RegistrarFalha "Instalador: os programas não puderam ser copiados para $INSTDIR"
  ${EndIf}
  Delete /REBOOTOK "$INSTDIR\ondarisd.exe.antigo"
  Delete /REBOOTOK "$INSTDIR\Ondaris.exe.antigo"

  ; The technician's settings survive an upgrade; only keys given now change.
  ${IfNot} ${FileExists} "$INSTDIR\korvin.ini"
    File "/oname=korvin.ini" "${__FILEDIR__}\korvin.ini"
  ${EndIf}
  ${If} $Servidor != ""
    WriteINIStr "$INSTDIR\korvin.ini" "Korvin" "Servidor" "$Servidor"
  ${EndIf}
  ${If} $Caminho != ""
    WriteINIStr "$INSTDIR\korvin.ini" "Korvin" "Caminho" "$Caminho"
  ${EndIf}

  WriteUninstaller "$INSTDIR\Desinstalar.exe"
  WriteRegStr HKLM "${CHAVE_PROPRIA}" "Pasta" "$INSTDIR"
  WriteRegStr HKLM "${CHAVE_PROPRIA}" "Versao" "${VERSAO}"
  WriteRegStr HKLM "${CHAVE_DESINSTALAR}" "DisplayName" "Ondaris"
  WriteRegStr HKLM "${CHAVE_DESINSTALAR}" "DisplayVersion" "${VERSAO}"
  WriteRegStr HKLM "${CHAVE_DESINSTALAR}" "Publisher" "${EDITOR}"
  WriteRegStr HKLM "${CHAVE_DESINSTALAR}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${CHAVE_DESINSTALAR}" "DisplayIcon" "$INSTDIR\ondarisd.exe"
  WriteRegStr HKLM "${CHAVE_DESINSTALAR}" "UninstallString" '"$INSTDIR\Desinstalar.exe"'
  WriteRegStr HKLM "${CHAVE_DESINSTALAR}" "QuietUninstallString" '"$INSTDIR\Desinstalar.exe" /S'
  WriteRegDWORD HKLM "${CHAVE_DESINSTALAR}" "NoModify" 1
  WriteRegDWORD HKLM "${CHAVE_DESINSTALAR}" "NoRepair" 1

  CreateDirectory "$SMPROGRAMS\Ondaris"
!ifdef COM_BANDEJA
  CreateShortcut "$SMPROGRAMS\Ondaris\Ondaris.lnk" "$INSTDIR\Ondaris.exe"
!endif
  CreateShortcut "$SMPROGRAMS\Ondaris\Verificar instalação.lnk" "$SYSDIR\cmd.exe" \
    '/k ""$INSTDIR\ondarisd.exe" --verificar"' "$INSTDIR\ondarisd.exe"
  CreateShortcut "$SMPROGRAMS\Ondaris\Configurações (korvin.ini).lnk" "$WINDIR\notepad.exe" '"$INSTDIR\korvin.ini"'
  CreateShortcut "$SMPROGRAMS\Ondaris\Registro de falhas (Ondaris.log).lnk" "$WINDIR\notepad.exe" \
    '"$INSTDIR\Ondaris.log"'
  CreateShortcut "$SMPROGRAMS\Ondaris\Desinstalar o Ondaris.lnk" "$INSTDIR\Desinstalar.exe"
SectionEnd

!ifdef COM_BANDEJA
Section "Iniciar o Ondaris com o Windows (área de notificação)" SecBandeja
  SetRegView 64
  WriteRegStr HKLM "${CHAVE_RUN}" "Ondaris" '"$INSTDIR\Ondaris.exe"'
SectionEnd
!endif

Section /o "Serviço do Windows (ondarisd, sincroniza sem ninguém logado)" SecServico
  SetRegView 64
  ${If} $ServicoAntes != "1"
    !insertmacro Servico "--install" "a instalação do serviço Ondaris" 
  ${EndIf}
  !insertmacro Servico "--start" "o início do serviço Ondaris"
SectionEnd

; What was unticked goes: the logon start, a service installed before.
Section "-Retirar o que foi desmarcado"
  SetRegView 64
!ifdef COM_BANDEJA
  ${IfNot} ${SectionIsSelected} ${SecBandeja}
    DeleteRegValue HKLM "${CHAVE_RUN}" "Ondaris"
  ${EndIf}
!endif
  ${IfNot} ${SectionIsSelected} ${SecServico}
  ${AndIf} $ServicoAntes == "1"
    !insertmacro Servico "--remove" "a remoção do serviço Ondaris"
  ${EndIf}
SectionEnd

; After the sections, whose numbers it needs.
Function .onInit
  SetRegView 64
  StrCpy $Falhou "0"
  ReadRegStr $0 HKLM "${CHAVE_SERVICO}" "ImagePath"
  StrCpy $ServicoAntes "0"
  ${If} $0 != ""
    StrCpy $ServicoAntes "1"
    !insertmacro SelectSection ${SecServico}
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/SERVICO=" $R1
  ${IfNot} ${Errors}
    ${If} $R1 == "1"
      !insertmacro SelectSection ${SecServico}
    ${ElseIf} $R1 == "0"
      !insertmacro UnselectSection ${SecServico}
    ${Else}
      MessageBox MB_ICONSTOP "/SERVICO= aceita 1 (instalar o serviço) ou 0 (sem serviço), não $\"$R1$\"." /SD IDOK
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}
!ifdef COM_BANDEJA
  ; An upgrade keeps the logon start as the machine has it.
  ReadRegStr $0 HKLM "${CHAVE_PROPRIA}" "Pasta"
  ReadRegStr $1 HKLM "${CHAVE_RUN}" "Ondaris"
  ${If} $0 != ""
  ${AndIf} $1 == ""
    !insertmacro UnselectSection ${SecBandeja}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/BANDEJA=" $R1
  ${IfNot} ${Errors}
    ${If} $R1 == "1"
      !insertmacro SelectSection ${SecBandeja}
    ${ElseIf} $R1 == "0"
      !insertmacro UnselectSection ${SecBandeja}
    ${Else}
      MessageBox MB_ICONSTOP "/BANDEJA= aceita 1 ou 0, não $\"$R1$\"." /SD IDOK
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}
!endif
  ClearErrors
  ${GetOptions} $R0 "/SERVIDOR=" $Servidor
  ${If} ${Errors}
    StrCpy $Servidor ""
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/CAMINHO=" $Caminho
  ${If} ${Errors}
    StrCpy $Caminho ""
  ${EndIf}
FunctionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPrincipal} "ondarisd.exe, o korvin.ini (mantido quando já existe), os atalhos do menu Iniciar e o desinstalador."
!ifdef COM_BANDEJA
  !insertmacro MUI_DESCRIPTION_TEXT ${SecBandeja} "O Ondaris.exe abre na área de notificação quando qualquer usuário entra no Windows."
!endif
  !insertmacro MUI_DESCRIPTION_TEXT ${SecServico} "O serviço Ondaris sincroniza mesmo sem ninguém logado. Com o serviço e o Ondaris.exe juntos, só um sincroniza o banco; o outro mostra o estado dele."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Section "Uninstall"
  SetRegView 64
  SetShellVarContext all
  StrCpy $Falhou "0"
  ReadRegStr $0 HKLM "${CHAVE_SERVICO}" "ImagePath"
  ${If} $0 != ""
    !insertmacro Servico "--remove" "a remoção do serviço Ondaris"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\Ondaris.exe"
    nsExec::ExecToStack 'taskkill /F /IM Ondaris.exe'
    Pop $0
    Pop $1
  ${EndIf}
  DeleteRegValue HKLM "${CHAVE_RUN}" "Ondaris"
  DeleteRegKey HKLM "${CHAVE_DESINSTALAR}"
  DeleteRegKey HKLM "${CHAVE_PROPRIA}"
  RMDir /r "$SMPROGRAMS\Ondaris"
  ${If} $Falhou == "1"
    ; The service is still there: its program and its log stay with it.
    Return
  ${EndIf}
  !insertmacro ApagarComEspera "$INSTDIR\ondarisd.exe"
  !insertmacro ApagarComEspera "$INSTDIR\Ondaris.exe"
  ${If} $Falhou == "1"
    ; A program still runs: the log keeps the entry that says so, and the
    ; uninstaller stays to be run again.
    Return
  ${EndIf}
  Delete "$INSTDIR\ondarisd.exe.antigo"
  Delete "$INSTDIR\Ondaris.exe.antigo"
  Delete "$INSTDIR\korvin.ini"
  Delete "$INSTDIR\Ondaris.log"
  Delete "$INSTDIR\Desinstalar.exe"
  ; Only an empty folder goes: what someone else put there (fbclient.dll,
  ; a copy of the settings) stays.
  RMDir "$INSTDIR"
SectionEnd
