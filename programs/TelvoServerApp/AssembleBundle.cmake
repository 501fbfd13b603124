# Assembles "Telvo Server.app" from the build: cmake -DOUT=<folder> -DDAEMON=<program>
# -DTOOL=<LegacySetupTool> -DHELPER=<the privileged helper> -DAPP=<control application>
# -DARTWORK=<rendered images> -DPLUGIN=<SetupBundle.so> -DTRAMPOLINE=<telvo-privileged-exec>
# -DPOLICY=<its polkit policy file> -DSOURCE=<this folder> -DAGENT=<TelvoServerAgent>
# -DVERSION=<CFBundleShortVersionString> -DBUILD=<CFBundleVersion> -DTEAM=<the maker's team>
# [-DCODESIGN=<telvo-codesign> -DCERT=<pem> -DKEY=<pem> [-DCHAIN=<pem>]] -P AssembleBundle.cmake.
# Given a key, it signs from the inside out: the agent, the plug-in's module and bundle, the
# application's executable and the application.
set(app "${OUT}/Telvo Server.app")
set(plugin "${app}/Contents/Resources/SetupBundle.bundle")
set(agent "${plugin}/Contents/Resources/TelvoServerAgent.app")
file(REMOVE_RECURSE "${app}")
file(MAKE_DIRECTORY "${app}/Contents/MacOS" "${app}/Contents/Library/LaunchServices"
     "${plugin}/Contents/Resources" "${plugin}/Contents/MacOS" "${agent}/Contents/MacOS")

function(info_plist path identifier name)
  set(BUNDLE_IDENTIFIER ${identifier})
  set(BUNDLE_NAME ${name})
  set(BUNDLE_VERSION ${VERSION})
  set(BUNDLE_BUILD ${BUILD})
  set(BUNDLE_EXECUTABLE_ENTRY "")
  if(ARGC GREATER 3)
    set(BUNDLE_EXECUTABLE_ENTRY "<key>CFBundleExecutable</key>\n\t<string>${ARGV3}</string>\n\t")
  endif()
  configure_file("${SOURCE}/Info.plist.in" "${path}" @ONLY)
endfunction()
info_plist("${app}/Contents/Info.plist" com.kestro.telvoserver "Telvo Server" "Telvo Server")
info_plist("${plugin}/Contents/Info.plist" com.kestro.telvoserver.SetupBundle SetupBundle SetupBundle.so)
info_plist("${agent}/Contents/Info.plist" com.kestro.telvoserveragent TelvoServerAgent TelvoServerAgent)

file(COPY "${HELPER}" DESTINATION "${app}/Contents/Library/LaunchServices"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(COPY "${APP}" DESTINATION "${app}/Contents/MacOS"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(GLOB images "${ARTWORK}/*.png")
file(COPY ${images} DESTINATION "${app}/Contents/Resources")
file(COPY "${TOOL}" DESTINATION "${app}/Contents/Resources"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(COPY "${DAEMON}" DESTINATION "${plugin}/Contents/Resources"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(COPY "${AGENT}" DESTINATION "${agent}/Contents/MacOS"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(COPY "${SOURCE}/com.kestro.telvoserverdaemon.plist" DESTINATION "${plugin}/Contents/Resources")
# The agent's job: kept alive (it exits 1 after installing an update, and its new copy starts)
# and its service named after the maker's team.
configure_file("${SOURCE}/com.kestro.telvoserveragent.plist.in"
               "${plugin}/Contents/Resources/com.kestro.telvoserveragent.plist" @ONLY)
# The polkit policy and the trampoline, put in place on a first install (Authorization.h).
file(COPY "${TRAMPOLINE}" DESTINATION "${app}/Contents/Resources"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(COPY "${POLICY}" DESTINATION "${app}/Contents/Resources")
file(COPY "${PLUGIN}" DESTINATION "${plugin}/Contents/MacOS"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(CODESIGN AND CERT AND KEY)
  set(chain)
  if(CHAIN)
    set(chain --chain "${CHAIN}")
  endif()
  function(sign identifier path)
    execute_process(COMMAND "${CODESIGN}" sign --cert "${CERT}" --key "${KEY}" ${chain} --identifier ${identifier} "${path}"
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "cannot sign ${path}")
    endif()
  endfunction()
  sign(com.kestro.TelvoServerAgent "${agent}/Contents/MacOS/TelvoServerAgent")
  sign(com.kestro.TelvoServerAgent "${agent}")
  sign(com.kestro.telvoserver.SetupBundle "${plugin}/Contents/MacOS/SetupBundle.so")
  sign(com.kestro.telvoserver.SetupBundle "${plugin}")
  sign(com.kestro.TelvoServer "${app}/Contents/MacOS/Telvo Server")
  sign(com.kestro.TelvoServer "${app}")
endif()
