#pragma once
// Writes four pictures of the restore window in its main states (open form, refused
// secret, backup list, report) as PNG files, drawn from demonstration data without any
// backup. Each is rendered off screen in its active appearance; a picture that comes out
// blank is refused instead of written.
#include <QImage>
#include <iosfwd>
#include <string>

#include "app/RestoreAppModel.h"
#include "core/Error.h"

namespace wm::RestoreScreenshots {

class Failure : public wm::Error {
public:
    enum class Kind { nothingDrawn };
    // "<file> came out blank, so whatever it is a picture of did not draw."
    static Failure nothingDrawn(std::string fileName);

    Kind kind;
    std::string fileName;

private:
    Failure(Kind k, std::string name, const std::string& description)
        : wm::Error(description), kind(k), fileName(std::move(name)) {}
};

// The width of every picture.
constexpr int pictureWidth = 660;

// Creates the folder (and missing parents), writes "restore-open.png",
// "restore-wrong-key.png", "restore-choose.png" and "restore-done.png" in that order and
// prints "wmrestore-shot: wrote 4 screenshots to <folder>". The first failure stops the
// run and is thrown; pictures already written stay.
void write(const std::string& folder, std::ostream& out);

// The restore window on model, drawn width wide and as high as its content, at least 200.
QImage render(RestoreAppModel& model, int width);

// Throws nothingDrawn(name) unless a grid sample of the picture holds more than eight
// distinct colours.
void refuseIfBlank(const QImage& image, const std::string& name);

}  // namespace wm::RestoreScreenshots
