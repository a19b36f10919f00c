#pragma once
// A program run that draws pictures without showing anything: the restore program's
// screenshot mode and the status-view renderer.
class QImage;

namespace wm::OffscreenRun {

// Before the Qt application is made: chooses the off-screen platform unless
// QT_QPA_PLATFORM names one, so that a machine without a display can draw, and keeps Qt's
// notes about the session (a missing runtime folder as root, fonts, the platform's
// remarks) off standard error; a critical or fatal message is printed there after
// "<program>: ".
void prepare(const char* program);

// Whether a drawn picture shows nothing: no more than eight colours on a grid of about 64
// points along its shorter side (a background, a frame and a few plain areas are not a
// drawing; text and smoothed edges bring many shades).
bool isBlank(const QImage& image);

}  // namespace wm::OffscreenRun
