# The programs: the front, the desktop module, the worker programs and the modules they open.
# Their sources are in programs/, but for the front's entry point, which stays at the top.
# The engines run only in the worker programs, the executables that link them: brivlon itself
# references none, so --as-needed leaves the imaging, PDF and media libraries out of the command
# line, the tray program and the render modes. brivlon looks for its workers in its helper folder.
# Three worker programs from the same code, each a job's choice (Requests::worker): the programs
# table of CONTRIBUTING.md says what each links and takes and why, and a test holds the requests to it.
# What a lighter program leaves out is in brivlon-engines.so, which it opens the first time a job
# needs it: the program defines the engines it leaves out itself, as stand-ins that call the
# module (engine_forwarders.cpp and its two siblings), so the archives' objects for them are
# never pulled in, and --as-needed drops their libraries. A command-line run takes the lightest
# program that serves all its jobs. Opening the module costs more than linking its libraries at
# start, so the lighter programs are for the runs that never open it.
add_executable(brivlon_worker programs/worker_main.cpp)
target_compile_options(brivlon_worker PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(brivlon_worker PRIVATE kalvimorf_documents)
set_target_properties(brivlon_worker PROPERTIES OUTPUT_NAME brivlon-worker RUNTIME_OUTPUT_DIRECTORY ${BRIVLON_HELPER_OUTPUT})

add_library(brivlon_engines MODULE programs/engine_module.cpp)
target_compile_options(brivlon_engines PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(brivlon_engines PRIVATE kalvimorf_documents)
set_target_properties(brivlon_engines PROPERTIES PREFIX "" OUTPUT_NAME brivlon-engines
  LIBRARY_OUTPUT_DIRECTORY ${BRIVLON_HELPER_OUTPUT})

# PDF text needs poppler alone: a module of its own, so that the light program extracts text
# without the engine module's imaging libraries, and loads poppler only for such a job.
add_library(brivlon_pdf_text MODULE programs/pdf_text_module.cpp)
target_compile_options(brivlon_pdf_text PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(brivlon_pdf_text PRIVATE kalvimorf_core_engines)
set_target_properties(brivlon_pdf_text PROPERTIES PREFIX "" OUTPUT_NAME brivlon-pdf-text
  LIBRARY_OUTPUT_DIRECTORY ${BRIVLON_HELPER_OUTPUT})

# Face blurring needs OpenCV besides libvips: a module of its own, so that the image program blurs
# faces without the engine module's poppler, Qt Gui and office route.
add_library(brivlon_faces MODULE programs/faces_module.cpp)
target_compile_options(brivlon_faces PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(brivlon_faces PRIVATE kalvimorf_core_engines)
set_target_properties(brivlon_faces PROPERTIES PREFIX "" OUTPUT_NAME brivlon-faces
  LIBRARY_OUTPUT_DIRECTORY ${BRIVLON_HELPER_OUTPUT})

# The lighter programs export their symbols so that the module's own copy of the core below it
# gives way to the program's (one set of tasks, processes and name claims, one image library);
# their stand-ins are their own, since exported they would take the place of the module's engines.
function(brivlon_lighter_worker target name main)
  add_executable(${target} ${main} programs/engine_forwarders.cpp programs/engine_modules.cpp ${ARGN})
  target_compile_options(${target} PRIVATE ${BRIVLON_WARNINGS})
  target_link_libraries(${target} PRIVATE kalvimorf_documents ${CMAKE_DL_LIBS})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name}
    RUNTIME_OUTPUT_DIRECTORY ${BRIVLON_HELPER_OUTPUT} ENABLE_EXPORTS ON)
  add_dependencies(brivlon_worker ${target})
endfunction()
brivlon_lighter_worker(brivlon_worker_light brivlon-worker-light programs/worker_light_main.cpp programs/light_forwarders.cpp)
brivlon_lighter_worker(brivlon_worker_image brivlon-worker-image programs/worker_main.cpp programs/image_forwarders.cpp)
set_source_files_properties(programs/engine_forwarders.cpp programs/engine_modules.cpp programs/light_forwarders.cpp programs/image_forwarders.cpp
  PROPERTIES COMPILE_OPTIONS -fvisibility=hidden)
add_dependencies(brivlon_worker brivlon_engines brivlon_pdf_text brivlon_faces)

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

# A run of PDF text alone forks the front instead of starting a worker, and the fork opens the
# text module: the front exports its symbols for it, as the lighter programs do.
add_executable(brivlon main.cpp programs/cli_common.cpp programs/engine_modules.cpp programs/headless_conversion.cpp programs/headless_run.cpp
  programs/headless_tool.cpp programs/headless_trim.cpp)
target_compile_options(brivlon PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(brivlon PRIVATE kalvimorf_core_jobs ${CMAKE_DL_LIBS})
set_target_properties(brivlon PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${BRIVLON_BIN_OUTPUT} ENABLE_EXPORTS ON)
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
