# The programs: the front, the desktop module, the worker program and the engine modules it opens.
# Their sources are in programs/, but for the front's entry point, which stays at the top.
# The engines run only in the worker, and only through its modules: the worker links the engines
# on light libraries (qpdf, liblzma, ffmpeg's processes) and calls the rest through
# EngineModules' tables, so --as-needed leaves libvips, poppler, OpenCV, Qt Gui and LibRaw out of
# it, and a module brings them the first time a job needs them. brivlon itself references no
# engine, and looks for the worker and the modules in its helper folder.
add_executable(brivlon_worker programs/worker_main.cpp)
target_compile_options(brivlon_worker PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(brivlon_worker PRIVATE kalvimorf_documents ${CMAKE_DL_LIBS})
# Exported, so that a module's own copy of the core below it gives way to the worker's: one set of
# tasks, processes, name claims and module tables.
set_target_properties(brivlon_worker PROPERTIES OUTPUT_NAME brivlon-worker RUNTIME_OUTPUT_DIRECTORY ${BRIVLON_HELPER_OUTPUT}
  ENABLE_EXPORTS ON)

# The engine modules, one a kind (EngineModules::Module): each source is its module's entry.
set(BRIVLON_MODULE_ENTRIES programs/images_module.cpp programs/documents_module.cpp programs/faces_module.cpp
  programs/pdf_text_module.cpp)
foreach(entry ${BRIVLON_MODULE_ENTRIES})
  get_filename_component(kind ${entry} NAME_WE)
  string(REPLACE "_module" "" kind ${kind})
  string(REPLACE "_" "-" file ${kind})
  add_library(brivlon_${kind} MODULE ${entry})
  target_compile_options(brivlon_${kind} PRIVATE ${BRIVLON_WARNINGS})
  target_link_libraries(brivlon_${kind} PRIVATE kalvimorf_documents)
  set_target_properties(brivlon_${kind} PROPERTIES PREFIX "" OUTPUT_NAME brivlon-${file}
    LIBRARY_OUTPUT_DIRECTORY ${BRIVLON_HELPER_OUTPUT})
  add_dependencies(brivlon_worker brivlon_${kind})
endforeach()
# The tests link the engines, and hand the modules' tables over at start-up.
add_library(kalvimorf_module_entries STATIC ${BRIVLON_MODULE_ENTRIES})
target_link_libraries(kalvimorf_module_entries PUBLIC kalvimorf_documents)

# brivlon is a small front: the headless rows (--convert, --tool, --trim) run on Qt Core with the worker
# client or ffmpeg alone, and every other mode opens the desktop module, which holds the desktop program and
# the render modes with Qt Widgets, Multimedia, D-Bus and X. A command-line conversion or trim never
# loads those, and its worker or ffmpeg starts a dozen milliseconds sooner.
add_library(brivlon_desktop MODULE programs/cli.cpp programs/cli_common.cpp programs/desktop_main.cpp programs/maintenance_modes.cpp
  programs/render_modes.cpp programs/scenarios.cpp programs/trim_modes.cpp)
target_compile_options(brivlon_desktop PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(brivlon_desktop PRIVATE kalvimorf_shell)
# Only the entry is exported: fewer symbols to look up when it is opened, and nothing of its own
# copy of the core can stand in for the front's.
target_link_options(brivlon_desktop PRIVATE -Wl,-z,defs -Wl,--exclude-libs,ALL)
set_target_properties(brivlon_desktop PROPERTIES PREFIX "" OUTPUT_NAME brivlon-desktop
  CXX_VISIBILITY_PRESET hidden LIBRARY_OUTPUT_DIRECTORY ${BRIVLON_HELPER_OUTPUT})

add_executable(brivlon main.cpp programs/cli_common.cpp programs/headless_conversion.cpp programs/headless_run.cpp
  programs/headless_tool.cpp programs/headless_trim.cpp)
target_compile_options(brivlon PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(brivlon PRIVATE kalvimorf_core_jobs ${CMAKE_DL_LIBS})
set_target_properties(brivlon PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${BRIVLON_BIN_OUTPUT})
add_dependencies(brivlon brivlon_worker brivlon_desktop)

# The program's resources are in its helper folder; ffmpeg and ffprobe there are links to the
# system's, in the build and in an installed tree alike.
add_custom_command(TARGET brivlon POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${BRIVLON_HELPER_OUTPUT}/resources/bin
  COMMAND ${CMAKE_COMMAND} -E create_symlink /usr/bin/ffmpeg ${BRIVLON_HELPER_OUTPUT}/resources/bin/ffmpeg
  COMMAND ${CMAKE_COMMAND} -E create_symlink /usr/bin/ffprobe ${BRIVLON_HELPER_OUTPUT}/resources/bin/ffprobe
  VERBATIM)

# The launcher entry and the mark in the icon theme's sizes, drawn by the program's own code.
add_executable(brivlon_icon_render EXCLUDE_FROM_ALL programs/icon_render_main.cpp)
target_compile_options(brivlon_icon_render PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(brivlon_icon_render PRIVATE kalvimorf_menus)
set(BRIVLON_ICONS ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_DATADIR}/icons/hicolor)
add_custom_command(OUTPUT ${BRIVLON_ICONS}/512x512/apps/brivlon.png
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:brivlon_icon_render> ${BRIVLON_ICONS}
  DEPENDS brivlon_icon_render VERBATIM)
add_custom_target(brivlon_icons ALL DEPENDS ${BRIVLON_ICONS}/512x512/apps/brivlon.png)
