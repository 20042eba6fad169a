# Shell integration: the shortcut reader and the path rules of opening a file join the
# standard-library-only format library; the desktop registration needs Qt.
target_sources(gs_document_format PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/PathRules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ShellLinkReader.cpp
)

if(NOT GLIMMERSTAVE_STDLIB_ONLY)
    # gs_document: the Qt-based part of setup documents. The desktop registration starts it;
    # the document lifecycle adds its sources here too.
    if(NOT TARGET gs_document)
        add_library(gs_document STATIC)
        target_include_directories(gs_document PUBLIC ${PROJECT_SOURCE_DIR}/src)
        target_link_libraries(gs_document PUBLIC gs_document_format Qt6::Core)
    endif()
    target_sources(gs_document PRIVATE ${CMAKE_CURRENT_LIST_DIR}/FileTypeRegistration.cpp)
    # The user's copies of the desktop files are the installed ones, compiled in.
    qt_add_resources(gs_document gs_desktop_files
        PREFIX /packaging
        BASE ${PROJECT_SOURCE_DIR}/packaging
        FILES
            ${PROJECT_SOURCE_DIR}/packaging/glimmerstave.desktop
            ${PROJECT_SOURCE_DIR}/packaging/glimmerstave.mime.xml
            ${PROJECT_SOURCE_DIR}/packaging/glimmerstave.png
            ${PROJECT_SOURCE_DIR}/packaging/glimmerstave.svg
    )
endif()
