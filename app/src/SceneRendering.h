#pragma once

#include <QByteArray>
#include <functional>
#include <optional>

namespace velto::app {

// How the window's scene is drawn. Where OpenGL is only a software rasteriser (a virtual
// screen, a machine without a graphics driver), the toolkit's plain software renderer and the
// web engine's own software compositing draw each frame with far less work than OpenGL done by
// the processor; the user may still ask for either with VELTO_RENDERING=software or gl.
class SceneRendering {
  public:
    enum class Renderer { openGL, software };

    static constexpr const char* settingName = "VELTO_RENDERING";

    // True for the renderer names of OpenGL implemented by the processor.
    static bool isSoftwareRasteriser(const QByteArray& glRenderer);
    // The renderer for the setting ("software", "gl", else chosen from OpenGL's renderer name,
    // asked only then; none: no OpenGL at all).
    static Renderer choose(const QByteArray& setting,
                           const std::function<std::optional<QByteArray>()>& glRenderer);
    // OpenGL's renderer name, from a context of its own; none where no context can be made.
    static std::optional<QByteArray> openGLRendererName();

    // Chooses from the environment and tells the toolkit, before the first window and the first
    // web profile exist. A renderer the user chose through the toolkit's own setting stands.
    static Renderer applyAtStart();
};

}  // namespace velto::app
