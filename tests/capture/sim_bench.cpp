#include "tests/capture/sim_bench.h"

#include "capture/image_codec.h"
#include "instr/instr_connection.h"
#include "visa/visa.h"

#include <QImageReader>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace quarvel::test {

namespace {

std::string Canonical(const std::string& text) {
    std::string result;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            result += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

} // namespace

SimBench::SimBench(const std::vector<std::string>& simArgs) : sim(simArgs) {
    window.form.visaAddress = sim.SocketResource();
    window.form.imageDir = dir.Path();
}

bool SimBench::Connect() {
    controller.ToggleConnection();
    return controller.HasDriver();
}

bool SimBench::ConnectOver(Lan lan) {
    window.form.visaAddress = ResourceOn(sim, lan);
    return PointAtSim(controller.Connection().GetResourceManager(), sim) && Connect();
}

QImage SimBench::ReferencePicture(QSize rescaleTo) const {
    CInstrConnection connection;
    if (!connection.Open(sim.SocketResource()) || !connection.QueryIdn() ||
        !connection.CreateDriver())
        return {};
    ByteBuffer bytes;
    if (!connection.GetDriver()->GetScreenshot(bytes))
        return {};
    QImage image;
    if (LoadFromMemory(bytes.data(), bytes.size(), image) != CodecStatus::Ok)
        return {};
    if (rescaleTo.isValid())
        image = image.scaled(rescaleTo, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

void SimBench::Sync() {
    if (!controller.IsConnected())
        return;
    ViInt32 complete = 0;
    viQueryf(controller.Connection().GetSession(), "*OPC?\n", "%d", &complete);
}

int SimBench::CountReceived(const std::string& command) {
    Sync();
    const std::string wanted = Canonical(command);
    int count = 0;
    for (const auto& line : sim.Transcript())
        if (Canonical(line) == wanted)
            ++count;
    return count;
}

int SimBench::IndexOfReceived(const std::string& command, int from) {
    Sync();
    const std::string wanted = Canonical(command);
    const auto lines = sim.Transcript();
    for (int i = std::max(from, 0); i < static_cast<int>(lines.size()); ++i)
        if (Canonical(lines[static_cast<std::size_t>(i)]) == wanted)
            return i;
    return -1;
}

bool SimilarPictures(const QImage& a, const QImage& b) {
    if (a.isNull() || b.isNull() || a.size() != b.size())
        return false;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    long long differing = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row);
            const QRgb q = y.pixel(col, row);
            if (std::abs(qRed(p) - qRed(q)) > 48 || std::abs(qGreen(p) - qGreen(q)) > 48 ||
                std::abs(qBlue(p) - qBlue(q)) > 48)
                ++differing;
        }
    return differing * 50 <= static_cast<long long>(x.width()) * x.height();
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

std::size_t CountLines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

QImage ReadPicture(const std::string& path) {
    QImageReader reader(QString::fromStdString(path));
    return reader.read();
}

} // namespace quarvel::test
