#include "SceneRendering.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <array>

namespace velto::app {

bool SceneRendering::isSoftwareRasteriser(const QByteArray& glRenderer) {
    static constexpr std::array names = {"llvmpipe", "softpipe", "swrast", "software rasterizer"};
    const QByteArray lower = glRenderer.toLower();
    for (const char* name : names) {
        if (lower.contains(name)) {
            return true;
        }
    }
    return false;
}

SceneRendering::Renderer SceneRendering::choose(
    const QByteArray& setting, const std::function<std::optional<QByteArray>()>& glRenderer) {
    const QByteArray chosen = setting.trimmed().toLower();
    if (chosen == "software") {
        return Renderer::software;
    }
    if (chosen == "gl") {
        return Renderer::openGL;
    }
    const std::optional<QByteArray> name = glRenderer();
    return !name || isSoftwareRasteriser(*name) ? Renderer::software : Renderer::openGL;
}

std::optional<QByteArray> SceneRendering::openGLRendererName() {
    QOpenGLContext context;
    if (!context.create()) {
        return std::nullopt;
    }
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) {
        return std::nullopt;
    }
    const auto* name = context.functions()->glGetString(GL_RENDERER);
    std::optional<QByteArray> result;
    if (name != nullptr) {
        result = QByteArray(reinterpret_cast<const char*>(name));
    }
    context.doneCurrent();
    return result;
}

SceneRendering::Renderer SceneRendering::applyAtStart() {
    if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND")) {
        return qgetenv("QT_QUICK_BACKEND") == "software" ? Renderer::software : Renderer::openGL;
    }
    const Renderer renderer = choose(qgetenv(settingName), &openGLRendererName);
    if (renderer == Renderer::software) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }
    return renderer;
}

}  // namespace velto::app
