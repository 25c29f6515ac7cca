# Installation and Debian packages.
#
# Two install components, one package each:
#   zeplo    the program, its man page and its completion (bin/, share/).
#            It loads the MQ libraries at run time, so the package depends
#            on no MQ installation.
#   localqm  the stand-in queue manager laid out like an MQ installation
#            under lib/zeplo/mqinst (bin/localqm, bin/dmpmqlog,
#            lib64/libmqm_r.so, lib64/libmqic_r.so), with bin/localqm as a
#            link to its admin command, its man page and completion.
#            MQ_INSTALLATION_PATH=<prefix>/lib/zeplo/mqinst points zeplo at it.
# None of the installed binaries needs a run path: the admin command and the
# formatter link localqm's store statically, and zeplo opens the libraries by
# their full path.
set(ZEPLO_MQINST_DESTINATION lib/zeplo/mqinst)
set(ZEPLO_MAN_DESTINATION share/man/man1)
set(ZEPLO_COMPLETION_DESTINATION share/bash-completion/completions)

install(TARGETS zeplo RUNTIME DESTINATION bin COMPONENT zeplo)
install(FILES ${CMAKE_SOURCE_DIR}/doc/man/zeplo.1 DESTINATION ${ZEPLO_MAN_DESTINATION}
        COMPONENT zeplo)
install(FILES ${CMAKE_SOURCE_DIR}/completion/zeplo.bash DESTINATION ${ZEPLO_COMPLETION_DESTINATION}
        RENAME zeplo COMPONENT zeplo)

if(TARGET localqm_tool)
  install(TARGETS localqm_tool dmpmqlog RUNTIME DESTINATION ${ZEPLO_MQINST_DESTINATION}/bin
          COMPONENT localqm)
  install(TARGETS mqm_r mqic_r LIBRARY DESTINATION ${ZEPLO_MQINST_DESTINATION}/lib64
          COMPONENT localqm NAMELINK_SKIP)
  # A relative link, so the tree works under any prefix and inside a package.
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/dist)
  file(CREATE_LINK ../${ZEPLO_MQINST_DESTINATION}/bin/localqm ${CMAKE_BINARY_DIR}/dist/localqm
       SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/dist/localqm DESTINATION bin COMPONENT localqm)
  install(FILES ${CMAKE_SOURCE_DIR}/doc/man/localqm.1 DESTINATION ${ZEPLO_MAN_DESTINATION}
          COMPONENT localqm)
  install(FILES ${CMAKE_SOURCE_DIR}/completion/localqm.bash
          DESTINATION ${ZEPLO_COMPLETION_DESTINATION} RENAME localqm COMPONENT localqm)
endif()

set(CPACK_PACKAGE_NAME zeplo)
set(CPACK_PACKAGE_VENDOR "The ZEPLO developers")
set(CPACK_PACKAGE_CONTACT "The ZEPLO developers <zeplo@localhost>")
set(CPACK_PACKAGE_VERSION 9.1.1)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Moves IBM MQ messages between queues and files")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL zeplo)
if(TARGET localqm_tool)
  list(APPEND CPACK_COMPONENTS_ALL localqm)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_ZEPLO_PACKAGE_NAME zeplo)
set(CPACK_DEBIAN_ZEPLO_DESCRIPTION
    "Moves IBM MQ messages between queues and files\n\
Unloads queues to message files and loads them back, copies and moves\n\
messages between queues and queue managers, and rebuilds lost messages\n\
from a queue manager's recovery log. The MQ libraries are loaded at run\n\
time from the MQ installation (MQ_INSTALLATION_PATH).")
set(CPACK_DEBIAN_ZEPLO_PACKAGE_DEPENDS "libc6, libstdc++6")
set(CPACK_DEBIAN_LOCALQM_PACKAGE_NAME zeplo-localqm)
set(CPACK_DEBIAN_LOCALQM_DESCRIPTION
    "File-backed stand-in queue manager for trying zeplo\n\
A small queue manager with the MQI libraries libmqm_r.so and libmqic_r.so,\n\
an admin command (localqm) and a log formatter, laid out like an MQ\n\
installation under /usr/lib/zeplo/mqinst.")
set(CPACK_DEBIAN_LOCALQM_PACKAGE_DEPENDS "libsqlite3-0, libcrypt1, libc6, libstdc++6")
include(CPack)
