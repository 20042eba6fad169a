# Shell integration: the shortcut reader and the path rules of opening a file join the
# standard-library-only format library; the desktop registration needs Qt.
target_sources(gs_document_format PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/PathRules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ShellLinkReader.cpp
)
