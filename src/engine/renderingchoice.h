// How the helper renders when nobody chose: the choice between Qt's software scene graph with
// the engine's GPU off, and whatever the environment or the command line asked for.
#pragma once

#include "engine/environment.h"

#include <string>
#include <vector>

struct RenderingChoice {
    // QQuickWindow::setGraphicsApi(QSGRendererInterface::Software) is to be called before the
    // application object exists.
    bool softwareSceneGraph = false;
    // Arguments to append to the command line the application object gets ("--webEngineArgs"
    // first when the command line holds none yet; the engine reads only what follows it), or,
    // with appendToFlagsVariable, to QTWEBENGINE_CHROMIUM_FLAGS.
    std::vector<std::string> appendArguments;
    // QTWEBENGINE_CHROMIUM_FLAGS is set, and the engine then reads it alone: appendArguments
    // belong at its end.
    bool appendToFlagsVariable = false;
    // QT_XCB_GL_INTEGRATION=none is to be set before the application object exists: with both
    // the scene graph and the engine in software nothing draws with OpenGL, and the xcb platform
    // would still load Mesa's GL driver (and LLVM with it) into the browser process.
    bool noXcbGlIntegration = false;
    // VK_LOADER_DRIVERS_DISABLE=* is to be set before the engine starts: with the engine's GPU
    // off nothing draws with Vulkan, and the engine's start (Qt 6.8's) would still create a
    // Vulkan instance only to learn the GPU's vendor, for which the loader opens every Vulkan
    // driver installed. Mesa's never unload, and hold LLVM: about 40 MiB of the browser process
    // and 0.15 s of its start.
    bool noVulkanDrivers = false;
};

// Software rendering (the software scene graph and "--disable-gpu" for the engine) unless the
// environment or the engine's switches already chose:
//  - QT_QUICK_BACKEND (or its older name QMLSCENE_DEVICE) or QSG_RHI_BACKEND set to anything
//    but the software backend: nothing is changed;
//  - a GPU or GL switch among the engine's own arguments (those after "--webEngineArgs", or
//    QTWEBENGINE_CHROMIUM_FLAGS when that is set, since the engine then reads only it):
//    nothing is changed;
//  - QTWEBENGINE_CHROMIUM_FLAGS set without such a switch: as when nothing chose, with
//    "--disable-gpu" to go into the variable, since the engine drops the command line's;
//  - the software backend already named in the environment: only "--disable-gpu" is added.
// Whenever "--disable-gpu" is added, the xcb platform's OpenGL is turned off too, unless
// QT_XCB_GL_INTEGRATION already names one, and so are the Vulkan loader's drivers, unless one of
// the loader's own variables already chose which drivers it loads.
// Pure: it reads only `environment` and argv[1..argc-1].
RenderingChoice chooseRendering(const EnvironmentLookup &environment, int argc,
                                const char *const *argv);

// argv[0..argc-1] followed by `appended`, then a null pointer, as QApplication takes it (argc is
// the size less one). Points into argv and `appended`, which must outlive its use.
std::vector<char *> argumentsWith(int argc, char **argv, std::vector<std::string> &appended);
