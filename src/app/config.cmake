# The launch options and the launch-at-login setting with its XDG autostart controller.
target_sources(quaystone_app PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/AppConfig.cpp ${CMAKE_CURRENT_LIST_DIR}/AppConfig.h
    ${CMAKE_CURRENT_LIST_DIR}/LaunchAtLoginControlling.h
    ${CMAKE_CURRENT_LIST_DIR}/XdgAutostartLaunchAtLoginController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XdgAutostartLaunchAtLoginController.h
    ${CMAKE_CURRENT_LIST_DIR}/LaunchOptions.cpp ${CMAKE_CURRENT_LIST_DIR}/LaunchOptions.h
    ${CMAKE_CURRENT_LIST_DIR}/TerminalStop.cpp ${CMAKE_CURRENT_LIST_DIR}/TerminalStop.h
)
