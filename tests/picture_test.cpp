// The pictures of the cuts: read back with Qt's XML parser and held against
// the JSON listing of the same run, and the HTML page rendered by headless
// Chromium, its shaded bands looked for where the parts are.

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <cmath>
#include <cstring>
#include <map>

#include "cli/Picture.h"
#include "support/CliRun.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

struct PicturedPart {
  int number = 0;
  qint64 start = 0, end = 0;
};

struct PicturedFile {
  QString name, error;
  std::vector<PicturedPart> parts, dropped;
  int floorLines = 0;
  double floorDb = 0;
  bool envelope = false;
};

// Every file group of an SVG (or of the pictures in a page), as a program
// would read them; fails the test where the document is not well formed.
std::vector<PicturedFile> ReadPicture(const std::string& document) {
  std::vector<PicturedFile> files;
  QXmlStreamReader xml(QByteArray::fromStdString(document));
  int depth = 0, fileDepth = -1;
  while (!xml.atEnd()) {
    const auto token = xml.readNext();
    if (token == QXmlStreamReader::EndElement) {
      if (--depth < fileDepth) fileDepth = -1;
      continue;
    }
    if (token != QXmlStreamReader::StartElement) continue;
    ++depth;
    const QXmlStreamAttributes a = xml.attributes();
    const QStringList classes = a.value("class").toString().split(' ');
    if (xml.name() == u"g" && classes.contains("file")) {
      files.push_back(
          {a.value("data-file").toString(), a.value("data-error").toString(), {}, {}, 0, 0, false});
      fileDepth = depth;
    } else if (fileDepth < 0) {
      continue;
    } else if (xml.name() == u"g" && classes.contains("part")) {
      files.back().parts.push_back({a.value("data-number").toInt(),
                                    a.value("data-start-frame").toLongLong(),
                                    a.value("data-end-frame").toLongLong()});
    } else if (xml.name() == u"g" && classes.contains("dropped")) {
      files.back().dropped.push_back(
          {0, a.value("data-start-frame").toLongLong(), a.value("data-end-frame").toLongLong()});
    } else if (xml.name() == u"g" && classes.contains("floor")) {
      files.back().floorDb = a.value("data-db").toDouble();
    } else if (xml.name() == u"line" && classes.contains("floor")) {
      ++files.back().floorLines;
    } else if (xml.name() == u"path" && classes.contains("envelope")) {
      files.back().envelope = true;
    }
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line "
                               << xml.lineNumber();
  return files;
}

// Samples of 16-bit stereo: sounds of the given lengths in frames, each
// followed by 2 s of silence.
Samples Sounds(std::initializer_list<std::pair<int, int>> sounds) {
  Samples samples(2 * 44100, 0);  // a quiet start
  for (auto [length, level] : sounds) {
    for (int f = 0; f < length; ++f)
      samples.insert(samples.end(), {std::int16_t(f % 2 ? level : -level), 0});
    samples.insert(samples.end(), 2 * 88200, 0);
  }
  return samples;
}

class Pictures : public ::testing::Test {
 protected:
  void SetUp() override { fs::current_path(dir.path()); }
  ShellResult Cli(std::vector<std::string> args) { return RunCli(std::move(args), stop); }
  TempDir dir;
  std::atomic<int> stop{0};
};

TEST_F(Pictures, PartGroupsAreTheJsonListingsParts) {
  // 0.3 s, 2 s and 1 s of sound and a 5 ms click; the same in float at
  // 48 kHz; a FLAC; a file that is no recording; names that are hostile.
  const Samples samples = Sounds({{13230, 4000}, {88200, 12000}, {44100, 700}, {220, 30000}});
  dir.Put("rec.wav", SimpleWav(2, samples));
  dir.Put("a&b<\"c'>\t\x01.wav", SimpleWav(2, samples));
  dir.Put("\xff\xfe name.wav", SimpleWav(2, Sounds({{30000, 9000}})));
  Bytes floats;
  for (std::size_t i = 0; i < samples.size(); i += 2) {
    const float value = static_cast<float>(samples[i]) / 32768.0f;
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    PutLe32(floats, bits);
  }
  dir.Put("float.wav",
          WavBuilder().Chunk("fmt ", FormatBody(3, 1, 44100, 32)).Chunk("data", floats).Build());
  WriteFlac16(dir / "rec.flac", 2, 44100, samples);
  dir.Put("bad.wav", Bytes(10, 1));
  const std::vector<std::string> files{
      "rec.wav", "a&b<\"c'>\t\x01.wav", "\xff\xfe name.wav", "float.wav", "rec.flac", "bad.wav"};

  const std::string everything = Cli({"list", "-f", "json", "rec.wav"}).out;
  const QJsonArray allParts = QJsonDocument::fromJson(QByteArray::fromStdString(everything))
                                  .array()[0]
                                  .toObject()["parts"]
                                  .toArray();
  ASSERT_EQ(allParts.size(), 4);
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{},
        {"--min-part", "0.5"},
        {"--pad-before", "0.25", "--pad-after", "3", "--gap", "0.2"},
        {"--threshold-db", "-40", "--min-part", "0.2", "--pad-after", "0.1"}}) {
    SCOPED_TRACE(::testing::PrintToString(options));
    auto run = [&](const char* format) {
      std::vector<std::string> args{"list", "-f", format};
      args.insert(args.end(), options.begin(), options.end());
      args.insert(args.end(), files.begin(), files.end());
      return Cli(args);
    };
    const ShellResult json = run("json"), svg = run("svg");
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(svg.status, 1);
    EXPECT_EQ(svg.err, json.err);
    const QJsonArray listed = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array();
    const std::vector<PicturedFile> pictured = ReadPicture(svg.out);
    ASSERT_EQ(pictured.size(), files.size());
    ASSERT_EQ(static_cast<std::size_t>(listed.size()), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      const QJsonObject f = listed[static_cast<int>(i)].toObject();
      const PicturedFile& p = pictured[i];
      // The name as the listing gives it; characters XML cannot carry
      // become U+FFFD there too.
      EXPECT_EQ(p.name, f["file"].toString().replace(QChar(1), QChar(0xFFFD)));
      EXPECT_EQ(p.error, f["error"].toString());
      if (f.contains("error")) {
        EXPECT_TRUE(p.parts.empty());
        continue;
      }
      const QJsonArray parts = f["parts"].toArray();
      ASSERT_EQ(p.parts.size(), static_cast<std::size_t>(parts.size())) << files[i];
      for (int k = 0; k < parts.size(); ++k) {
        const QJsonObject part = parts[k].toObject();
        EXPECT_EQ(p.parts[k].number, part["number"].toInt());
        EXPECT_EQ(p.parts[k].start, part["start_frame"].toInteger());
        EXPECT_EQ(p.parts[k].end, part["end_frame"].toInteger());
      }
      EXPECT_TRUE(p.envelope);
      EXPECT_EQ(p.floorLines, 2);
      // A float recording takes a floor given in dB exactly, a 16-bit one
      // as its amplitude.
      const bool exact =
          files[i] == "float.wav" && !options.empty() && options[0] == "--threshold-db";
      const double floor = exact ? -40.0 : 20 * std::log10(f["noise_floor"].toInt() / 32768.0);
      EXPECT_NEAR(p.floorDb, floor, 0.006);
    }
    // The parts --min-part drops are outlined where the scan found them.
    const PicturedFile& rec = pictured[0];
    if (options.size() == 2 && options[0] == "--min-part") {
      ASSERT_EQ(rec.dropped.size(), 2u);
      EXPECT_EQ(rec.dropped[0].start, allParts[0].toObject()["start_frame"].toInteger());
      EXPECT_EQ(rec.dropped[1].end, allParts[3].toObject()["end_frame"].toInteger());
    } else if (options.empty()) {
      EXPECT_TRUE(rec.dropped.empty());
    }
  }
}

TEST_F(Pictures, ShortLongEmptyAndStoppedRecordings) {
  dir.Put("short.wav", SimpleWav(1, Samples{0, 5000, -5000, 0}));
  dir.Put("empty.wav", SimpleWav(2, {}));
  const ShellResult r = Cli({"list", "-f", "svg", "short.wav", "empty.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "corvella-cli: empty.wav: Data chunk contains no data!\n");
  const std::vector<PicturedFile> pictured = ReadPicture(r.out);
  ASSERT_EQ(pictured.size(), 2u);
  ASSERT_EQ(pictured[0].parts.size(), 1u);
  EXPECT_EQ(pictured[0].parts[0].start, 1);
  EXPECT_EQ(pictured[0].parts[0].end, 3);
  EXPECT_TRUE(pictured[0].envelope);
  EXPECT_EQ(pictured[1].error, "Data chunk contains no data!");
  // Two days of silence at 200 Hz (sparse): still about ten time ticks.
  const std::uint32_t frames = 2 * 86400 * 200;
  dir.Put("days.wav", WavBuilder().Fmt(1, 200).RawChunk("data", 2 * frames, {}).Build());
  fs::resize_file(dir / "days.wav", 44 + std::uintmax_t{2} * frames);
  const std::string days = Cli({"list", "-f", "svg", "days.wav"}).out;
  std::size_t ticks = 0;
  for (auto at = days.find("class=\"tick\""); at != std::string::npos;
       at = days.find("class=\"tick\"", at + 1))
    ++ticks;
  EXPECT_TRUE(ticks >= 5 && ticks <= 13) << ticks << " ticks";
  // A stop asked for before the run prints no half picture.
  stop = 2;
  const ShellResult stopped = Cli({"list", "-f", "svg", "short.wav"});
  EXPECT_EQ(stopped.status, 130);
  EXPECT_EQ(stopped.out, "");
}

// Runs headless Chromium on a page, as a user would from a shell.
Ran Chromium(const std::vector<std::string>& options, const std::string& page,
             const std::string& profile) {
  std::vector<std::string> argv{"/usr/bin/chromium",
                                "--headless",
                                "--no-sandbox",
                                "--disable-gpu",
                                "--hide-scrollbars",
                                "--no-first-run",
                                "--user-data-dir=" + profile};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back("file://" + page);
  return RunProgram(argv);
}

TEST_F(Pictures, ThePageReadsInABrowserWithItsBandsWhereThePartsAre) {
  ASSERT_TRUE(fs::exists("/usr/bin/chromium")) << "chromium is needed: make test installs it";
  // Parts of different lengths, one short enough for --min-part to drop.
  dir.Put("side a.wav",
          SimpleWav(2, Sounds({{200000, 12000}, {4000, 12000}, {150000, 9000}, {300000, 3000}})));
  const ShellResult json = Cli({"list", "-f", "json", "--min-part", "0.5", "side a.wav"});
  const ShellResult html = Cli({"list", "-f", "html", "--min-part", "0.5", "side a.wav"});
  ASSERT_EQ(html.status, 0) << html.err;
  dir.Put("page.html", Bytes(html.out.begin(), html.out.end()));
  const QJsonObject file =
      QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array()[0].toObject();
  const QJsonArray parts = file["parts"].toArray();
  ASSERT_EQ(parts.size(), 3);

  // Well formed, self-contained, and with the table and histogram a reader wants.
  EXPECT_EQ(ReadPicture(html.out).size(), 1u);
  for (const char* outside : {"src=", "href=", "url(", "@import", "https:", "<link"}) {
    EXPECT_EQ(html.out.find(outside), std::string::npos) << outside;
  }
  // The only address is the SVG namespace's, which names and fetches nothing.
  const std::string space = "xmlns=\"http://www.w3.org/2000/svg\"";
  std::string rest = html.out;
  for (auto at = rest.find(space); at != std::string::npos; at = rest.find(space))
    rest.erase(at, space.size());
  EXPECT_EQ(rest.find("http:"), std::string::npos);
  const Ran parsed = Chromium({"--dump-dom"}, dir / "page.html", dir / "profile");
  ASSERT_EQ(parsed.status, 0) << parsed.err;
  const std::string& dom = parsed.out;
  for (int k = 0; k < parts.size(); ++k) {
    const std::string output = parts[k].toObject()["output"].toString().toStdString();
    EXPECT_NE(dom.find("<td class=\"name\">" + output + "</td>"), std::string::npos) << output;
  }
  EXPECT_NE(dom.find("class=\"histogram\""), std::string::npos);
  EXPECT_NE(dom.find("suggested floor"), std::string::npos);

  // The screenshot at 1280 px: the picture stands 40 px in, scaled to the
  // 1200 px the page leaves it. Along a line just under its top edge, the
  // shading is blue over the parts and nowhere else.
  const Ran shown = Chromium({"--window-size=1280,1200", "--screenshot=" + dir / "page.png"},
                             dir / "page.html", dir / "profile");
  ASSERT_EQ(shown.status, 0) << shown.err;
  const QImage shot(QString::fromStdString(dir / "page.png"));
  ASSERT_FALSE(shot.isNull());
  ASSERT_EQ(shot.width(), 1280);
  const double scale = 1200.0 / cli::kPictureWidth;
  const double frames = static_cast<double>(file["frames"].toInteger());
  auto column = [&](qint64 frame) {
    return 40 +
           (cli::kPictureLeft + static_cast<double>(frame) / frames * cli::kPictureColumns) * scale;
  };
  auto shaded = [&](int x, int y) {  // light blue: the band over the frame
    const QColor c = shot.pixelColor(x, y);
    return c.blue() - c.red() > 30 && c.red() > 120;
  };
  const int left = static_cast<int>(std::ceil(column(0))) + 2;
  const int right = static_cast<int>(column(static_cast<qint64>(frames))) - 2;
  // The line: the first one down the page that is shaded over the first part.
  const int firstPart = static_cast<int>((column(parts[0].toObject()["start_frame"].toInteger()) +
                                          column(parts[0].toObject()["end_frame"].toInteger())) /
                                         2);
  int line = -1;
  for (int y = 0; y < shot.height() && line < 0; ++y) {
    if (shaded(firstPart, y) && shaded(firstPart + 5, y) && shaded(firstPart - 5, y)) line = y + 2;
  }
  ASSERT_GE(line, 0) << "no shading found";
  int inside = 0;
  for (int x = left; x <= right; ++x) {
    bool inPart = false, nearEdge = false;
    for (const QJsonValue& value : parts) {
      const double start = column(value.toObject()["start_frame"].toInteger());
      const double end = column(value.toObject()["end_frame"].toInteger());
      inPart = inPart || (x > start + 2 && x < end - 2);
      nearEdge = nearEdge || std::abs(x - start) <= 2 || std::abs(x - end) <= 2;
    }
    if (nearEdge) continue;
    EXPECT_EQ(shaded(x, line), inPart) << "at x " << x << ", line " << line;
    inside += inPart;
  }
  EXPECT_GT(inside, 300);
}

// The text between `open` and the next `close` after it, every one of them.
std::vector<std::string> Between(const std::string& text, const std::string& open,
                                 const std::string& close) {
  std::vector<std::string> found;
  for (auto at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
    const auto from = at + open.size();
    found.push_back(text.substr(from, text.find(close, from) - from));
  }
  return found;
}

std::string FromXml(std::string text) {
  for (auto [entity, character] : {std::pair{"&apos;", "'"}, {"&quot;", "\""}, {"&lt;", "<"},
                                   {"&gt;", ">"}, {"&amp;", "&"}}) {
    for (auto at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
      text.replace(at, std::strlen(entity), character);
  }
  return text;
}

// The labels stand on their light strip, above the envelope, cut to the
// room their part leaves; the scale is the user's to choose: on a linear
// one, noise 55 dB under the music lies flat on the centre line.
TEST_F(Pictures, LabelsOnALightStripAndALinearScale) {
  Samples samples;
  for (int second = 0; second < 12; ++second) {
    const bool loud = second % 4 != 3;
    for (int f = 0; f < 44100; ++f) {
      const auto v = static_cast<std::int16_t>(loud ? (f % 2 ? 16000 : -16000) : (f % 2 ? 30 : -30));
      samples.insert(samples.end(), {v, v});
    }
  }
  dir.Put("side.wav", SimpleWav(2, samples));
  dir.Put("titles.txt", Bytes{});
  const std::string titles =
      "A short one\nA title far too long to stand in the room its part leaves on the strip, "
      "however wide the picture\nThree\n";
  dir.Put("titles.txt", Bytes(titles.begin(), titles.end()));
  const auto reach = [&](const std::string& svg) {
    // The least reach of the envelope from the centre line: the quietest column.
    const std::string path = Between(svg, "class=\"envelope\" d=\"", "\"").at(0);
    const double centre = cli::kEnvelopeTop + cli::kEnvelopeHeight / 2.0;
    double least = 1e9, top = 1e9;
    std::istringstream points(path.substr(1));
    for (std::string point; std::getline(points, point, 'L');) {
      const double y = std::stod(point.substr(point.find(' ') + 1));
      top = std::min(top, y);
      if (std::abs(y - centre) > 1e-9) least = std::min(least, std::abs(y - centre));
    }
    EXPECT_GE(top, cli::kEnvelopeTop) << "the envelope reaches into the strip";
    return least;
  };
  const ShellResult db = Cli({"list", "-f", "svg", "--names", "titles.txt", "side.wav"});
  ASSERT_EQ(db.status, 0) << db.err;
  const ShellResult linear =
      Cli({"list", "-f", "svg", "--scale", "linear", "--names", "titles.txt", "side.wav"});
  ASSERT_EQ(linear.status, 0) << linear.err;
  EXPECT_GT(reach(db.out), 20);
  EXPECT_LT(reach(linear.out), 1);
  EXPECT_EQ(ReadPicture(linear.out).at(0).parts.size(), 3u);

  EXPECT_NE(db.out.find("<rect class=\"strip\" x=\"50\" y=\"" + std::to_string(cli::kStripTop)),
            std::string::npos);
  const std::vector<std::string> labels = Between(db.out, "<text class=\"number\"", "</text>");
  ASSERT_EQ(labels.size(), 3u);
  for (const std::string& label : labels) {
    EXPECT_NE(label.find("y=\"" + std::to_string(cli::kStripTop + 12) + "\""), std::string::npos)
        << label;
  }
  EXPECT_EQ(labels[0].substr(labels[0].find('>') + 1), "1 A short one");
  const std::string cut = labels[1].substr(labels[1].find('>') + 1);
  EXPECT_EQ(cut.rfind("2 A title far too long", 0), 0u) << cut;
  EXPECT_EQ(cut.substr(cut.size() - 3), "\xE2\x80\xA6") << cut;
  EXPECT_LT(cut.size(), 70u) << cut;
  EXPECT_EQ(labels[2].substr(labels[2].find('>') + 1), "3 Three");
}

// A recording whose name begins with a dash is given as a path, so that the
// command line does not take it for an option.
TEST_F(Pictures, ANameThatLooksLikeAnOptionIsGivenAsAPath) {
  dir.Put("-dash.wav", SimpleWav(2, Sounds({{60000, 12000}, {60000, 9000}})));
  const ShellResult svg = Cli({"list", "-f", "svg", "--", "-dash.wav"});
  ASSERT_EQ(svg.status, 0) << svg.err;
  const std::vector<std::string> commands = Between(svg.out, "<text class=\"command\" x=\"50\" y=\"", "</text>");
  ASSERT_EQ(commands.size(), 1u);
  std::string command = FromXml(commands[0].substr(commands[0].find('>') + 1));
  EXPECT_EQ(command, "corvella-cli split ./-dash.wav");
  command.replace(0, std::strlen("corvella-cli"), CORVELLA_CLI);
  const ShellResult split = Shell("cd '" + dir.path() + "' && " + command);
  EXPECT_EQ(split.status, 0) << split.err;
  EXPECT_EQ(split.out, "-dash_001.wav\n-dash_002.wav\n");
}

// The command line under a picture, copied into a shell as it stands,
// writes the parts the picture shows: plain, padded, named by a list, a
// name a shell must be told is one word, and --tracks.
TEST_F(Pictures, TheCommandUnderThePictureSplitsAsDrawn) {
  dir.Put("it's side a.wav",
          SimpleWav(2, Sounds({{60000, 12000}, {4000, 12000}, {90000, 9000}, {70000, 3000}})));
  const std::string titles = "One\nTwo & a half\nThree\n";
  dir.Put("side list.txt", Bytes(titles.begin(), titles.end()));
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"--min-part", "0.5", "--pad-after", "0.3", "-o", "out dir"},
        {"--threshold-db", "-45", "--gap", "1.5", "-o", "gapped"},
        {"--tracks", "3", "--names", "side list.txt", "-o", "tracks"}}) {
    SCOPED_TRACE(::testing::PrintToString(options));
    std::vector<std::string> html{"list", "-f", "html"}, json{"list", "-f", "json"};
    html.insert(html.end(), options.begin(), options.end());
    json.insert(json.end(), options.begin(), options.end());
    html.push_back("it's side a.wav");
    json.push_back("it's side a.wav");
    const ShellResult page = Cli(html);
    ASSERT_EQ(page.status, 0) << page.err;
    const std::vector<std::string> commands = Between(page.out, "<code class=\"command\">", "</code>");
    ASSERT_EQ(commands.size(), 1u);
    std::string command = FromXml(commands[0]);
    ASSERT_EQ(command.rfind("corvella-cli split ", 0), 0u) << command;
    command.replace(0, std::strlen("corvella-cli"), CORVELLA_CLI);
    // As typed, with JSON asked for, to read back what it wrote.
    const ShellResult split = Shell("cd '" + dir.path() + "' && " + command + " -f json");
    ASSERT_EQ(split.status, 0) << command << "\n" << split.err;
    const QJsonArray parts = QJsonDocument::fromJson(QByteArray::fromStdString(Cli(json).out))
                                 .array()[0]
                                 .toObject()["parts"]
                                 .toArray();
    ASSERT_GE(parts.size(), 2);
    std::istringstream written(split.out);
    for (const QJsonValue& value : parts) {
      const QJsonObject listed = value.toObject();
      std::string line;
      std::getline(written, line);
      const QJsonObject part = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
      EXPECT_EQ(part["path"], listed["output"]) << line;
      EXPECT_EQ(part["start_frame"], listed["start_frame"]) << line;
      EXPECT_EQ(part["end_frame"], listed["end_frame"]) << line;
      EXPECT_TRUE(fs::exists(dir / part["path"].toString().toStdString())) << line;
    }
  }
}

}  // namespace
}  // namespace corvella::test
