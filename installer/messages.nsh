; What Setup and the uninstaller say, in English and in Korean (the plug-in
; itself speaks both).  Setup picks the language of the user's Windows.
; Read as UTF-8: in_realmedia.nsi includes this file with /CHARSET=UTF8.

LangString DirectoryTop ${LANG_ENGLISH} "Setup will install the RealAudio and RealMedia input plug-in into the Plugins folder of the Winamp installation below. If Winamp is installed elsewhere, choose its folder (the one holding winamp.exe)."
LangString DirectoryTop ${LANG_KOREAN} "RealAudio·RealMedia 입력 플러그인을 아래 Winamp 폴더 안의 Plugins 폴더에 설치합니다. Winamp가 다른 곳에 설치되어 있다면 그 폴더(winamp.exe가 있는 폴더)를 고르십시오."

LangString DirectoryField ${LANG_ENGLISH} "Winamp folder"
LangString DirectoryField ${LANG_KOREAN} "Winamp 폴더"

LangString FinishTitle ${LANG_ENGLISH} "${PRODUCT} ${VERSION} is installed"
LangString FinishTitle ${LANG_KOREAN} "${PRODUCT} ${VERSION} 설치를 마쳤습니다"

LangString FinishText ${LANG_ENGLISH} "The plug-in is in $INSTDIR\Plugins. Restart Winamp if it is running, then open a .ra, .rm, .ram or .rmm file or a RealAudio address.$\r$\n$\r$\nTo remove it, use Add/Remove Programs."
LangString FinishText ${LANG_KOREAN} "플러그인을 $INSTDIR\Plugins 에 설치했습니다. Winamp가 실행 중이면 다시 시작한 뒤 .ra, .rm, .ram, .rmm 파일이나 RealAudio 주소를 여십시오.$\r$\n$\r$\n제거하려면 프로그램 추가/제거를 사용하십시오."

LangString NoHostHere ${LANG_ENGLISH} "There is no ${HOST_EXE} in$\r$\n$INSTDIR$\r$\n$\r$\nWinamp does not seem to be installed there, so it would not find the plug-in. Install into $INSTDIR\Plugins anyway?"
LangString NoHostHere ${LANG_KOREAN} "다음 폴더에 ${HOST_EXE} 파일이 없습니다:$\r$\n$INSTDIR$\r$\n$\r$\nWinamp가 이곳에 설치되어 있지 않은 것 같으므로 Winamp가 플러그인을 찾지 못합니다. 그래도 $INSTDIR\Plugins 에 설치하시겠습니까?"

LangString CannotCreate ${LANG_ENGLISH} "Setup cannot create the folder$\r$\n$PluginDir$\r$\n$\r$\nCheck that you may write to $INSTDIR (run Setup as administrator), or choose another folder."
LangString CannotCreate ${LANG_KOREAN} "다음 폴더를 만들 수 없습니다:$\r$\n$PluginDir$\r$\n$\r$\n$INSTDIR 에 쓸 권한이 있는지 확인하거나(관리자 권한으로 실행), 다른 폴더를 고르십시오."

LangString InUse ${LANG_ENGLISH} "$PluginDir\${PLUGIN_FILE} is in use: Winamp is probably running.$\r$\n$\r$\nClose Winamp and click Retry, or click Cancel to stop Setup."
LangString InUse ${LANG_KOREAN} "$PluginDir\${PLUGIN_FILE} 파일을 사용 중입니다. Winamp가 실행 중인 것 같습니다.$\r$\n$\r$\nWinamp를 닫고 [다시 시도]를 누르거나, [취소]를 눌러 설치를 멈추십시오."

LangString NotInstalledInUse ${LANG_ENGLISH} "The plug-in was not installed: $PluginDir\${PLUGIN_FILE} is in use."
LangString NotInstalledInUse ${LANG_KOREAN} "플러그인을 설치하지 못했습니다: $PluginDir\${PLUGIN_FILE} 파일을 사용 중입니다."

LangString CannotWrite ${LANG_ENGLISH} "Setup cannot write to$\r$\n$PluginDir$\r$\n$\r$\nCheck that you may write there (run Setup as administrator), or choose another folder."
LangString CannotWrite ${LANG_KOREAN} "다음 폴더에 쓸 수 없습니다:$\r$\n$PluginDir$\r$\n$\r$\n쓰기 권한이 있는지 확인하거나(관리자 권한으로 실행), 다른 폴더를 고르십시오."

LangString NoUninstaller ${LANG_ENGLISH} "Setup cannot write its uninstaller to $PluginDir; the plug-in was removed again."
LangString NoUninstaller ${LANG_KOREAN} "$PluginDir 에 제거 프로그램을 쓸 수 없어서 플러그인을 다시 지웠습니다."

LangString NoEntry ${LANG_ENGLISH} "The plug-in is installed, but Setup could not add it to Add/Remove Programs. To remove it, run $PluginDir\${UNINSTALLER}."
LangString NoEntry ${LANG_KOREAN} "플러그인은 설치했지만 프로그램 추가/제거에 등록하지 못했습니다. 제거하려면 $PluginDir\${UNINSTALLER} 를 실행하십시오."

LangString NoEngine ${LANG_ENGLISH} "The plug-in is installed, but RealPlayer's playback engine (${ENGINE_FILE}) was not found on this computer.$\r$\n$\r$\nWinamp can play RealAudio and RealMedia with this plug-in only once RealPlayer is installed."
LangString NoEngine ${LANG_KOREAN} "플러그인은 설치했지만 이 컴퓨터에서 리얼 플레이어의 재생 엔진(${ENGINE_FILE})을 찾지 못했습니다.$\r$\n$\r$\n리얼 플레이어를 설치해야 Winamp가 이 플러그인으로 RealAudio와 RealMedia를 재생할 수 있습니다."

LangString UninstallInUse ${LANG_ENGLISH} "$INSTDIR\${PLUGIN_FILE} is in use: Winamp is probably running.$\r$\n$\r$\nClose Winamp and click Retry, or click Cancel to keep the plug-in."
LangString UninstallInUse ${LANG_KOREAN} "$INSTDIR\${PLUGIN_FILE} 파일을 사용 중입니다. Winamp가 실행 중인 것 같습니다.$\r$\n$\r$\nWinamp를 닫고 [다시 시도]를 누르거나, [취소]를 눌러 플러그인을 그대로 두십시오."

LangString NotRemovedInUse ${LANG_ENGLISH} "The plug-in was not removed: $INSTDIR\${PLUGIN_FILE} is in use."
LangString NotRemovedInUse ${LANG_KOREAN} "플러그인을 제거하지 못했습니다: $INSTDIR\${PLUGIN_FILE} 파일을 사용 중입니다."
