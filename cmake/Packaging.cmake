# What users install, built from what the other directories build:
#   windows preset: QuorvelCE-<version>-setup.exe (NSIS, the `installer`
#     target, part of the build) and QuorvelCE-<version>-win64.zip (cpack);
#   linux preset (wherever the `quorvelce` target exists): the Debian package
#     and the portable QuorvelCE-<version>-linux-<arch>.tar.gz (cpack).
# The version number comes from project(VERSION) alone.

set(QUORVEL_PUBLISHER "Trevanix" CACHE STRING "Publisher named by the packages")
set(QUORVEL_MAINTAINER "Trevanix <quorvelce@trevanix.example>"
    CACHE STRING "Maintainer of the Debian package (Name <address>)")

set(CPACK_PACKAGE_NAME "QuorvelCE")
set(CPACK_PACKAGE_VENDOR "${QUORVEL_PUBLISHER}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial bar-code scanner as a keyboard")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The portable zip: QuorvelCE.exe, QuorvelCE.INI and quorvel-ini.exe side by
  # side, as the program expects to find its settings.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "QuorvelCE-${PROJECT_VERSION}-win64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  # CPack checks what it has packed.
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/CheckPackage.cmake)

  # The installer, made whenever the program is built: a script of ours
  # rather than CPack's NSIS template, which installs for all users.
  find_program(QUORVEL_MAKENSIS makensis)
  if(TARGET QuorvelCE AND QUORVEL_MAKENSIS)
    set(QUORVEL_SETUP_EXE "${CMAKE_BINARY_DIR}/QuorvelCE-${PROJECT_VERSION}-setup.exe")
    set(_nsi "${PROJECT_SOURCE_DIR}/dist/windows/QuorvelCE.nsi")
    set(_ini "${PROJECT_SOURCE_DIR}/dist/QuorvelCE.INI")
    set(_ico "${PROJECT_SOURCE_DIR}/app/resources/ready.ico")
    # Stripped, as cpack strips what goes into the zip: both ship the same files.
    set(_staged "${CMAKE_BINARY_DIR}/packaging")
    add_custom_command(
      OUTPUT "${QUORVEL_SETUP_EXE}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${_staged}"
      COMMAND "${CMAKE_STRIP}" -o "${_staged}/QuorvelCE.exe" "$<TARGET_FILE:QuorvelCE>"
      COMMAND "${CMAKE_STRIP}" -o "${_staged}/quorvel-ini.exe" "$<TARGET_FILE:quorvel-ini>"
      COMMAND "${QUORVEL_MAKENSIS}" -V2 -INPUTCHARSET UTF8
              "-DVERSION=${PROJECT_VERSION}" "-DPUBLISHER=${QUORVEL_PUBLISHER}"
              "-DOUTFILE=${QUORVEL_SETUP_EXE}"
              "-DPROGRAM=${_staged}/QuorvelCE.exe" "-DTOOL=${_staged}/quorvel-ini.exe"
              "-DSETTINGS=${_ini}" "-DICON=${_ico}" "${_nsi}"
      DEPENDS QuorvelCE quorvel-ini "${_nsi}" "${_ini}" "${_ico}"
      COMMENT "Making QuorvelCE-${PROJECT_VERSION}-setup.exe"
      VERBATIM)
    add_custom_target(installer ALL DEPENDS "${QUORVEL_SETUP_EXE}")
  elseif(TARGET QuorvelCE)
    message(WARNING "makensis not found (Debian package nsis): no installer is made")
  endif()
  include(CPack)

elseif(TARGET quorvelce)
  # Two layouts from one build, each an install component, picked per
  # generator in PackagingGenerators.cmake:
  #   system   - the Debian package under /usr (and /etc for the autostart entry);
  #   portable - one folder, the program and its settings file side by side.
  include(GNUInstallDirs)
  set(QUORVEL_LINUX_PACKAGES ON)
  set(_linux "${PROJECT_SOURCE_DIR}/dist/linux")

  # Resolved at load time, as Debian builds its own (lintian: hardening-no-bindnow).
  foreach(program quorvelce quorvel-ini)
    target_link_options(${program} PRIVATE "LINKER:-z,relro,-z,now")
  endforeach()
  install(TARGETS quorvelce quorvel-ini RUNTIME DESTINATION bin COMPONENT system)
  install(FILES "${PROJECT_SOURCE_DIR}/dist/QuorvelCE.INI"
          DESTINATION share/quorvelce COMPONENT system)
  install(FILES "${_linux}/quorvelce.desktop" DESTINATION share/applications COMPONENT system)
  # The session starts every entry of /etc/xdg/autostart; a user turns it off
  # with an entry of the same name in ~/.config/autostart (see the README).
  # That is outside the prefix /usr (the package's); under any other prefix
  # (cmake --install --prefix) it stays inside it.
  install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
      set(_autostart /etc/xdg/autostart)
    else()
      set(_autostart \"\${CMAKE_INSTALL_PREFIX}/etc/xdg/autostart\")
    endif()
    file(INSTALL \"${_linux}/quorvelce.desktop\" DESTINATION \"\${_autostart}\")
    " COMPONENT system)
  install(FILES "${_linux}/70-quorvelce-uinput.rules" "${_linux}/70-quorvelce-scanners.rules"
          DESTINATION lib/udev/rules.d COMPONENT system)
  install(FILES "${_linux}/copyright" DESTINATION share/doc/quorvelce COMPONENT system)

  # The icon in the hicolor theme, at the sizes the program's icon file has.
  find_program(QUORVEL_CONVERT convert REQUIRED)
  find_program(QUORVEL_GZIP gzip REQUIRED)
  set(_icon_dir "${CMAKE_BINARY_DIR}/packaging")
  set(_made)
  foreach(size_index 32:0 16:1)
    string(REPLACE ":" ";" _pair "${size_index}")
    list(GET _pair 0 _size)
    list(GET _pair 1 _index)
    set(_png "${_icon_dir}/icons/${_size}x${_size}/quorvelce.png")
    add_custom_command(
      OUTPUT "${_png}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${_icon_dir}/icons/${_size}x${_size}"
      # -strip: no time stamps in the file, so the package builds the same twice.
      COMMAND "${QUORVEL_CONVERT}" "${PROJECT_SOURCE_DIR}/app/resources/ready.ico[${_index}]"
              -strip "png32:${_png}"
      DEPENDS "${PROJECT_SOURCE_DIR}/app/resources/ready.ico"
      VERBATIM)
    install(FILES "${_png}" DESTINATION share/icons/hicolor/${_size}x${_size}/apps
            COMPONENT system)
    list(APPEND _made "${_png}")
  endforeach()

  # Debian wants its changelog and the manual pages compressed, without a
  # time stamp inside (gzip -n).
  foreach(doc changelog:share/doc/quorvelce quorvelce.1:share/man/man1
              quorvel-ini.1:share/man/man1)
    string(REPLACE ":" ";" _pair "${doc}")
    list(GET _pair 0 _name)
    list(GET _pair 1 _dest)
    set(_gz "${_icon_dir}/${_name}.gz")
    add_custom_command(
      OUTPUT "${_gz}"
      COMMAND "${QUORVEL_GZIP}" -9nc "${_linux}/${_name}" > "${_gz}"
      DEPENDS "${_linux}/${_name}"
      VERBATIM)
    install(FILES "${_gz}" DESTINATION "${_dest}" COMPONENT system)
    list(APPEND _made "${_gz}")
  endforeach()
  add_custom_target(quorvel_package_files ALL DEPENDS ${_made})

  # Only for the archive: a plain `cmake --install` gives the system layout.
  install(TARGETS quorvelce quorvel-ini RUNTIME DESTINATION . COMPONENT portable
          EXCLUDE_FROM_ALL)
  install(FILES "${PROJECT_SOURCE_DIR}/dist/QuorvelCE.INI" DESTINATION . COMPONENT portable
          EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/PackagingGenerators.cmake")
  set(CPACK_SYSTEM_NAME "linux-${CMAKE_SYSTEM_PROCESSOR}")
  set(CPACK_PACKAGE_FILE_NAME "QuorvelCE-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # Read by PackagingGenerators.cmake, which sees only CPACK_ variables.
  set(CPACK_QUORVEL_BINARY_DIR "${CMAKE_BINARY_DIR}")

  set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
  set(CPACK_DEBIAN_PACKAGE_NAME "quorvelce")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORVEL_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Beside the libraries the programs link: Qt's Wayland platform plugin, so
  # that the dialog and the tray are a native Wayland client (Qt falls back
  # to XWayland without it, and links nothing of it).
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland")
  # Everything under /etc is a conffile: a user's edit survives an upgrade.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${_linux}/conffiles")
  # Below the summary line, which CPack puts first.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "QuorvelCE reads what a bar-code scanner sends on a serial port (USB\n"
      "serial adapters included), translates each byte through a keyboard\n"
      "table of its settings file and types it into the focused application,\n"
      "through XTest on X11 sessions, the compositor's virtual keyboard or\n"
      "/dev/uinput on Wayland sessions, and /dev/uinput on consoles. It lives\n"
      "as a tray icon with one settings dialog and starts at sign-in.\n"
      "\n"
      "Also contains quorvel-ini, a command-line tool to read, write and check\n"
      "settings files and keyboard tables.")
  string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  include(CPack)
endif()
