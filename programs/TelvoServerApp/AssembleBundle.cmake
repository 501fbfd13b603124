# Assembles "Telvo Server.app" from the build: cmake -DOUT=<folder> -DDAEMON=<program>
# -DTOOL=<LegacySetupTool> -DAPP=<control application> -DARTWORK=<rendered images>
# -DSOURCE=<this folder> -P AssembleBundle.cmake
set(app "${OUT}/Telvo Server.app")
set(plugin "${app}/Contents/Resources/SetupBundle.bundle")
set(agent "${plugin}/Contents/Resources/TelvoServerAgent.app")
file(REMOVE_RECURSE "${app}")
file(MAKE_DIRECTORY "${app}/Contents/MacOS" "${app}/Contents/Library/LaunchServices"
     "${plugin}/Contents/Resources" "${agent}/Contents/MacOS")

function(info_plist path identifier name)
  set(BUNDLE_IDENTIFIER ${identifier})
  set(BUNDLE_NAME ${name})
  configure_file("${SOURCE}/Info.plist.in" "${path}" @ONLY)
endfunction()
info_plist("${app}/Contents/Info.plist" com.kestro.telvoserver "Telvo Server")
info_plist("${plugin}/Contents/Info.plist" com.kestro.telvoserver.SetupBundle SetupBundle)
info_plist("${agent}/Contents/Info.plist" com.kestro.telvoserveragent TelvoServerAgent)

file(COPY "${APP}" DESTINATION "${app}/Contents/MacOS"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(GLOB images "${ARTWORK}/*.png")
file(COPY ${images} DESTINATION "${app}/Contents/Resources")
file(COPY "${TOOL}" DESTINATION "${app}/Contents/Resources"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(COPY "${DAEMON}" DESTINATION "${plugin}/Contents/Resources"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(COPY "${SOURCE}/com.kestro.telvoserverdaemon.plist" "${SOURCE}/com.kestro.telvoserveragent.plist"
     DESTINATION "${plugin}/Contents/Resources")
