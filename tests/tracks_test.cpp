// Record sides made here, as a user digitises them: tunes and spoken
// tracks with fade-outs, quiet intros and a quiet passage longer than the
// gaps between tracks, under surface noise, crackle and rumble. --tracks N
// must find the boundaries the test put there, levels must suggest options
// that give the count, and the parts must take the names and tags of a
// track list. And the choice itself against a plain model of it.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <numbers>
#include <random>
#include <set>
#include <sstream>

#include "batch/OutputName.h"
#include "split/TrackList.h"
#include "detect/Tracks.h"
#include "support/Fixture.h"
#include "support/Material.h"
#include "wave/ByteOrder.h"
#include "wave/Utf8.h"

namespace corvella::test {
namespace {

// A track list read as --names reads it: "" or why it is refused.
std::string ParseTrackNames(const std::string& text, const std::string& file,
                            split::TrackList& names) {
  return split::ParseTrackList(text, file, names).detail;
}

namespace fs = std::filesystem;
using Json = nlohmann::json;
constexpr int kRate = kMaterialRate;

Bytes ToBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// A tune of notes from 0.2 to 0.45 s, each ringing on into the next: no
// silence inside it.
Signal Tune(double seconds, std::mt19937& random) {
  std::uniform_real_distribution<double> length(0.2, 0.45);
  std::uniform_int_distribution<int> step(-4, 4);
  Signal s(static_cast<std::size_t>(seconds * kRate), 0.0);
  int note = 0;
  for (double t = 0; t < seconds - 0.2; t += length(random)) {
    note = std::clamp(note + step(random), -12, 12);
    const double frequency = 330.0 * std::pow(2.0, note / 12.0);
    const auto start = static_cast<std::size_t>(t * kRate);
    for (std::size_t i = start; i < s.size(); ++i) {
      const double age = static_cast<double>(i - start) / kRate;
      const double envelope = std::min(1.0, age / 0.01) * std::exp(-age * 2.5);
      if (age > 0.01 && envelope < 1e-4) break;
      const double phase = 2 * std::numbers::pi * frequency * age;
      s[i] += envelope * (std::sin(phase) + 0.3 * std::sin(2 * phase) + 0.1 * std::sin(3 * phase));
    }
  }
  return s;
}

struct SideRecipe {
  const char* name;
  int tracks;
  bool speech = false;
  double noiseDb = -60;  // surface noise
  bool crackle = false;
  bool rumble = false;
  bool quietIntros = false;
  bool fadeOuts = false;
  bool quietPassage = false;  // inside the second track, longer than any gap
  double gapLow = 1.2, gapHigh = 2.5;
};

struct Side {
  Signal signal;
  std::vector<std::pair<std::int64_t, std::int64_t>> tracks;  // where the test put them
};

Side MakeSide(const SideRecipe& recipe, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> gap(recipe.gapLow, recipe.gapHigh), length(6.0, 11.0);
  const Material& material = Sources();
  Side side;
  Signal& s = side.signal;
  s.assign(static_cast<std::size_t>(1.0 * kRate), 0.0);  // the lead-in groove
  for (int k = 0; k < recipe.tracks; ++k) {
    Signal track;
    if (recipe.speech) {
      // Two sentences with a breath between.
      for (int j = 0; j < 2; ++j) {
        if (j) track.insert(track.end(), static_cast<std::size_t>(0.5 * kRate), 0.0);
        const Signal& sentence = material.speech[static_cast<std::size_t>(k + j) % 4];
        track.insert(track.end(), sentence.begin(), sentence.end());
      }
    } else {
      track = Tune(length(random), random);
    }
    Normalise(track, -10);
    if (recipe.quietPassage && k == 1) {
      // A soft passage at -30 dBFS, longer than the gaps, in mid-track.
      Signal passage(static_cast<std::size_t>((recipe.gapHigh + 1.0) * kRate));
      for (std::size_t i = 0; i < passage.size(); ++i)
        passage[i] = 0.0316 * std::sin(2 * std::numbers::pi * 220 * static_cast<double>(i) / kRate);
      Signal rest = Tune(4.0, random);
      Normalise(rest, -10);
      track.insert(track.end(), passage.begin(), passage.end());
      track.insert(track.end(), rest.begin(), rest.end());
    }
    if (recipe.quietIntros) {
      // The first 1.5 s rise from -40 dB under the track's level.
      const auto rise = static_cast<std::size_t>(1.5 * kRate);
      for (std::size_t i = 0; i < rise && i < track.size(); ++i)
        track[i] *= std::pow(10.0, -2.0 * (1.0 - static_cast<double>(i) / rise));
    }
    if (recipe.fadeOuts) {
      const auto fade = std::min(track.size(), static_cast<std::size_t>(3.0 * kRate));
      for (std::size_t i = 0; i < fade; ++i)
        track[track.size() - fade + i] *= static_cast<double>(fade - i) / fade;
    }
    // The track's sound: from its first to its last sample that is not 0.
    std::size_t first = 0, last = track.size();
    while (first < last && track[first] == 0.0) ++first;
    while (last > first && track[last - 1] == 0.0) --last;
    const auto at = static_cast<std::int64_t>(s.size());
    side.tracks.emplace_back(at + static_cast<std::int64_t>(first),
                             at + static_cast<std::int64_t>(last));
    s.insert(s.end(), track.begin(), track.end());
    const double after = k + 1 < recipe.tracks ? gap(random) : 2.0;
    s.insert(s.end(), static_cast<std::size_t>(after * kRate), 0.0);
  }
  const Signal surface =
      Background(recipe.crackle ? Noise::Crackle : Noise::Pink, s.size(), recipe.noiseDb, random);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] += surface[i];
  if (recipe.rumble) {
    const Signal brown = Background(Noise::Brown, s.size(), recipe.noiseDb + 6, random);
    for (std::size_t i = 0; i < s.size(); ++i) {
      s[i] += brown[i] + std::pow(10.0, (recipe.noiseDb + 8) / 20) *
                             std::sin(2 * std::numbers::pi * 16 * static_cast<double>(i) / kRate);
    }
  }
  return side;
}

const SideRecipe kSides[] = {
    {"tunes under surface noise, fading out", 5, false, -60, false, false, false, true},
    {"tunes with crackle", 6, false, -55, true, false, false, true},
    {"tunes with rumble and quiet intros", 4, false, -56, false, true, true, false},
    {"spoken tracks with crackle", 4, true, -55, true},
    {"a quiet passage longer than the gaps", 4, false, -62, false, false, false, true, true},
    {"everything at once", 7, false, -54, true, true, true, true, true},
};

class Tracks : public ::testing::Test {
 protected:
  Ran Cli(std::vector<std::string> args) {
    args.insert(args.begin(), CORVELLA_CLI);
    return RunProgram(args);
  }
  std::string Write(const std::string& name, const Signal& s) {
    const std::string path = dir / name;
    WriteFile(path, Wav16(s));
    return path;
  }
  // The parts list prints as JSON: [start, end) in frames.
  std::vector<std::pair<std::int64_t, std::int64_t>> Listed(const std::vector<std::string>& args) {
    Ran ran = Cli(args);
    EXPECT_EQ(ran.status, 0) << ran.err;
    std::vector<std::pair<std::int64_t, std::int64_t>> parts;
    if (ran.status != 0) return parts;
    const Json listed = Json::parse(ran.out);
    for (const Json& part : listed[0]["parts"])
      parts.emplace_back(part["start_frame"].get<std::int64_t>(),
                         part["end_frame"].get<std::int64_t>());
    return parts;
  }
  TempDir dir;
};

TEST_F(Tracks, FindsTheBoundariesOfRecordSides) {
  ASSERT_EQ(Sources().speech.size(), 4u) << "espeak-ng is needed (make test installs it)";
  unsigned seed = 20;
  for (const SideRecipe& recipe : kSides) {
    SCOPED_TRACE(recipe.name);
    const Side side = MakeSide(recipe, seed++);
    const std::string path = Write("side.wav", side.signal);
    const auto parts =
        Listed({"list", "-f", "json", "--tracks", std::to_string(recipe.tracks), path});
    ASSERT_EQ(parts.size(), side.tracks.size());
    for (std::size_t k = 0; k < parts.size(); ++k) {
      const auto [start, end] = side.tracks[k];
      // Each cut lies in the gap the test left.
      if (k > 0) {
        EXPECT_GE(parts[k].first, side.tracks[k - 1].second) << "track " << k + 1;
      }
      if (k + 1 < parts.size()) {
        EXPECT_LE(parts[k].second, side.tracks[k + 1].first) << "track " << k + 1;
      }
      // Each part holds its whole track, its quiet intro and fade too, to
      // within 0.3 s, with no more than half a second of the noise before
      // or after it (a soft intro's start is told by its rise, so the part
      // may open a little early).
      const auto seconds = [](double s) { return static_cast<std::int64_t>(s * kRate); };
      EXPECT_LE(parts[k].first, start + seconds(0.3)) << "track " << k + 1;
      EXPECT_GE(parts[k].first, start - seconds(0.5)) << "track " << k + 1;
      EXPECT_GE(parts[k].second, end - seconds(0.3)) << "track " << k + 1;
      EXPECT_LE(parts[k].second, end + seconds(0.5)) << "track " << k + 1;
    }
  }
}

// The number that follows `label` in `text`, as printed; empty if none.
std::string NumberText(const std::string& text, const std::string& label) {
  const auto at = text.find(label);
  if (at == std::string::npos) return "";
  const auto from = at + label.size();
  return text.substr(from, text.find_first_not_of("-0123456789.", from) - from);
}

TEST_F(Tracks, LevelsSuggestsOptionsThatGiveTheTracks) {
  ASSERT_EQ(Sources().speech.size(), 4u) << "espeak-ng is needed (make test installs it)";
  unsigned seed = 40;
  int right = 0;
  std::string misses;
  for (const SideRecipe& recipe : kSides) {
    const Side side = MakeSide(recipe, seed++);
    const std::string path = Write("side.wav", side.signal);
    const Ran levels = Cli({"levels", path});
    const auto at = levels.out.rfind("suggested: ");
    ASSERT_NE(at, std::string::npos) << levels.out << levels.err;
    std::vector<std::string> count{"count"};
    std::istringstream words(levels.out.substr(at + 11));
    for (std::string word; words >> word;) count.push_back(word);
    count.push_back(path);
    const std::string result = Cli(count).out;
    const std::string expected = "contains " + std::to_string(recipe.tracks) + " parts!";
    const bool ok = result.find(expected) != std::string::npos;
    right += ok;
    if (!ok) misses += std::string("\n  ") + recipe.name + ": " + result + levels.out;
    // The picture's suggested floor is the one levels suggests: the floor
    // given to the rule, or the one --tracks parts the tracks at.
    std::string floor = NumberText(levels.out, "suggested: --threshold-db ");
    if (floor.empty()) floor = NumberText(levels.out, "parts at ");
    const Ran page = Cli({"list", "-f", "html", path});
    EXPECT_NE(page.out.find("the suggested floor is " + floor + " dBFS."), std::string::npos)
        << recipe.name << ": " << levels.out;
  }
  const int total = static_cast<int>(std::size(kSides));
  std::printf("levels suggested the right tracks for %d of %d record sides\n", right, total);
  EXPECT_GE(right * 6, total * 5) << "missed:" << misses;
}

// Three tunes; the second holds a pause nearly as long as the gaps.
Side CloseCall(unsigned seed) {
  std::mt19937 random(seed);
  Side side;
  Signal& s = side.signal;
  s.assign(kRate, 0.0);
  auto add = [&](Signal part) {
    Normalise(part, -10);
    s.insert(s.end(), part.begin(), part.end());
  };
  auto pause = [&](double seconds) {
    s.insert(s.end(), static_cast<std::size_t>(seconds * kRate), 0.0);
  };
  add(Tune(6, random));
  pause(1.5);
  add(Tune(4, random));
  pause(1.4);  // inside the second track
  add(Tune(4, random));
  pause(1.5);
  add(Tune(6, random));
  pause(1.0);
  const Signal surface = Background(Noise::Pink, s.size(), -60, random);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] += surface[i];
  return side;
}

TEST_F(Tracks, WarnsOfAFragileChoiceAndRefusesWhatCannotBe) {
  const std::string path = Write("close.wav", CloseCall(7).signal);
  const Ran three = Cli({"list", "--tracks", "3", path});
  EXPECT_EQ(three.status, 0) << three.err;
  EXPECT_NE(three.err.find("fragile"), std::string::npos) << three.err;
  // Both places are named: the pause left at 0:12.5 and a gap taken.
  EXPECT_NE(three.err.find("0:12."), std::string::npos) << three.err;
  EXPECT_TRUE(three.err.find("0:07.") != std::string::npos ||
              three.err.find("0:17.") != std::string::npos)
      << three.err;
  // Four tracks stand clear.
  const Ran four = Cli({"list", "--tracks", "4", path});
  EXPECT_EQ(four.status, 0);
  EXPECT_EQ(four.err.find("fragile"), std::string::npos) << four.err;

  // Asked for more than there are: refused, nothing written.
  const std::string out = dir / "out";
  fs::create_directory(out);
  const Ran many = Cli({"split", "--tracks", "12", "-o", out, path});
  EXPECT_EQ(many.status, 1);
  EXPECT_NE(many.err.find("cannot be parted into 12 tracks: at most"), std::string::npos)
      << many.err;
  EXPECT_TRUE(fs::is_empty(out));
  // Silence has no tracks.
  const std::string quiet = Write("quiet.wav", Signal(kRate * 3, 0.0));
  const Ran none = Cli({"count", "--tracks", "2", quiet});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("cannot be parted into 2 tracks: there is no sound in it"),
            std::string::npos)
      << none.err;
  // A bare --tracks counts the titles, and needs them.
  const Ran bare = Cli({"count", "--tracks", path});
  EXPECT_EQ(bare.status, 2);
  EXPECT_NE(bare.err.find("--tracks needs a number of tracks"), std::string::npos) << bare.err;
  EXPECT_EQ(Cli({"count", "--tracks", "1000", path}).status, 2);
  EXPECT_EQ(Cli({"count", "--tracks", "4", "--gap", "1", path}).status, 2);

  // A damaged recording is refused by every command, nothing written: the
  // tracks of a side read short would be wrong tracks.
  const Signal signal = CloseCall(7).signal;
  Samples samples;
  for (double v : signal)
    samples.push_back(static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767)));
  const std::string flac = dir / "close.flac";
  WriteFlac16(flac, 1, kRate, samples);
  Bytes bytes = ReadFile(flac);
  for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 50; ++i) bytes[i] ^= 0x5A;
  WriteFile(flac, bytes);
  for (const char* command : {"count", "list", "levels"}) {
    const Ran damaged = Cli({command, "--tracks", "4", flac});
    EXPECT_EQ(damaged.status, 1) << command;
    EXPECT_NE(damaged.err.find("Unable to read file!"), std::string::npos) << command << damaged.err;
  }
  const Ran damaged = Cli({"split", "--tracks", "4", "-o", out, flac});
  EXPECT_EQ(damaged.status, 1);
  EXPECT_TRUE(fs::is_empty(out));
}

// --tracks N parts a side exactly as a gap between the N-th and the
// (N-1)-th longest silence does at the same floor: the parts written are
// the same, byte for byte.
TEST_F(Tracks, WritesTheFramesItListsAtTheFloorLevelsSuggests) {
  // The floor `levels --tracks` names finds the same tracks when given
  // back, and each part written holds exactly the frames listed.
  const Side side = MakeSide(kSides[1], 3);
  const Bytes source = Wav16(side.signal);
  const std::string path = dir / "side.wav";
  WriteFile(path, source);
  const Ran levels = Cli({"levels", "--tracks", "6", path});
  ASSERT_EQ(levels.status, 0) << levels.err;
  const auto at = levels.out.rfind("suggested: --tracks 6 --threshold-db ");
  ASSERT_NE(at, std::string::npos) << levels.out;
  std::string floor = levels.out.substr(at + 37);
  floor = floor.substr(0, floor.find('\n'));
  const auto listed = Listed({"list", "-f", "json", "--tracks", "6", path});
  ASSERT_EQ(listed.size(), 6u);
  EXPECT_EQ(Listed({"list", "-f", "json", "--tracks", "6", "--threshold-db", floor, path}), listed);
  const std::string out = dir / "parts";
  fs::create_directory(out);
  const Ran split = Cli({"split", "-q", "--tracks", "6", "--threshold-db", floor, "-o", out, path});
  ASSERT_EQ(split.status, 0) << split.err;
  constexpr std::size_t kHeader = 44;
  for (std::size_t k = 0; k < listed.size(); ++k) {
    const std::string name = batch::PartFileName("side.wav", static_cast<int>(k) + 1);
    const Bytes part = ReadFile(out + "/" + name);
    ASSERT_GT(part.size(), kHeader) << name;
    const Bytes expected(source.begin() + kHeader + 2 * listed[k].first,
                         source.begin() + kHeader + 2 * listed[k].second);
    EXPECT_TRUE(Bytes(part.begin() + kHeader, part.end()) == expected) << name;
  }
  EXPECT_FALSE(fs::exists(out + "/" + batch::PartFileName("side.wav", 7)));
}

// --- names and tags -----------------------------------------------------

TEST(TrackNames, TakesTitlesAsUsersTypeThem) {
  split::TrackList names;
  ASSERT_EQ(ParseTrackNames("\xEF\xBB\xBF"
                                 "Artist: The Quiet Ones\r\nAlbum: Side Two\r\nYear: 1971\r\n\r\n"
                                 "1. Morning\r\n02 - Noon\r\nA3 Evening\r\n4 Night\r\n"
                                 "3 Blind Mice\r\n7th Heaven\r\n1.5 Miles\r\n10:15 Saturday\r\n",
                                 "side.wav", names),
            "");
  std::vector<std::string> titles;
  for (const auto& track : names.tracks) titles.push_back(track.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"Morning", "Noon", "Evening", "Night", "3 Blind Mice",
                                              "7th Heaven", "1.5 Miles", "10:15 Saturday"}));
  EXPECT_EQ(names.artist, "The Quiet Ones");
  EXPECT_EQ(names.album, "Side Two");
  EXPECT_EQ(names.date, "1971");

  ASSERT_EQ(
      ParseTrackNames("REM DATE 1969\nPERFORMER \"Band\"\nTITLE \"LP\"\nFILE \"x.wav\" WAVE\n"
                           "  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
                           "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    PERFORMER \"Guest\"\n",
                           "x.wav", names),
      "");
  ASSERT_EQ(names.tracks.size(), 2u);
  EXPECT_EQ(names.tracks[1].title, "Two");
  EXPECT_EQ(names.tracks[1].artist, "Guest");
  EXPECT_EQ(names.album, "LP");
  EXPECT_EQ(names.artist, "Band");
  EXPECT_EQ(names.date, "1969");

  // A listing with its output names edited: the titles; one with titles
  // for some parts only is refused, as it would name the others from their
  // file names among the titles.
  ASSERT_EQ(ParseTrackNames(R"([{"file": "a.wav", "parts": [{"output": "a_001.wav"}]},
      {"file": "dir/b.wav", "album": "B", "parts": [{"output": "Uno.wav"},
                                                    {"output": "b_002.wav"}]}])",
                            "b.wav", names),
            "");
  ASSERT_EQ(names.tracks.size(), 2u);
  EXPECT_EQ(names.tracks[0].title, "Uno");
  EXPECT_EQ(names.tracks[1].title, "b_002");
  EXPECT_EQ(names.album, "B");
  EXPECT_EQ(ParseTrackNames(R"({"file": "b.wav", "parts": [{"title": "Uno"}, {"title": null}]})",
                            "b.wav", names),
            "part 2: no title, where 1 other part has one");

  EXPECT_EQ(ParseTrackNames("One\nT\xE9l\xE9\n", "x.wav", names),
            "line 2: not UTF-8 text (save the list as UTF-8)");
  EXPECT_EQ(ParseTrackNames("\n  \n", "x.wav", names), "the track list is empty");
  // Side numbers go in a numbered list; "U2" is a name in a plain one.
  ASSERT_EQ(ParseTrackNames("A1 Intro\nA2 U2 Live\nB1. Outro\n", "x.wav", names), "");
  EXPECT_EQ(names.tracks[1].title, "U2 Live");
  EXPECT_EQ(names.tracks[2].title, "Outro");
  ASSERT_EQ(ParseTrackNames("Intro\nU2 Live\nF1 Racer\n", "x.wav", names), "");
  EXPECT_EQ(names.tracks[1].title, "U2 Live");
  EXPECT_EQ(names.tracks[2].title, "F1 Racer");
  // Titles in capitals are titles, not a cue sheet.
  ASSERT_EQ(ParseTrackNames("TRACK ONE\nTITLE FIGHT\n", "x.wav", names), "");
  EXPECT_EQ(names.tracks.size(), 2u);
  EXPECT_EQ(names.tracks[0].title, "TRACK ONE");
  EXPECT_EQ(ParseTrackNames("Artist: Only\n", "x.wav", names),
            "the track list names no tracks");
  EXPECT_EQ(ParseTrackNames(R"({"parts": [{"title": 7}]})", "x.wav", names),
            "part 1: title is not a string");
  EXPECT_EQ(ParseTrackNames(R"({"parts": [], "parts": []})", "x.wav", names),
            "not valid JSON: the key \"parts\" is given twice");
}

TEST(TrackNames, DurationsAreReadAsTimesAndNeverAsPartOfATitle) {
  split::TrackList names;
  const auto titles = [&] {
    std::vector<std::string> all;
    for (const auto& track : names.tracks) all.push_back(track.title);
    return all;
  };
  // Pasted from a catalogue page: side, title, duration, artist.
  ASSERT_EQ(ParseTrackNames("B1\tCaf\xC3\xA9 du Monde\t3:05\nB2\t99 Red Balloons\t4:01\tNena\n"
                            "B3\tOne More\t1:02:17\n",
                            "x.wav", names),
            "");
  EXPECT_EQ(titles(), (std::vector<std::string>{"Caf\xC3\xA9 du Monde", "99 Red Balloons", "One More"}));
  EXPECT_EQ(names.tracks[1].artist, "Nena");
  EXPECT_EQ(names.Total(), 185.0 + 241 + 3737);
  EXPECT_EQ(names.Anchors(), (std::vector<double>{185, 426}));
  // Typed from a sleeve, in every usual place.
  for (const char* list : {"A1 Morning 3:05\nA2 Noon 4:10\n", "Morning (3:05)\nNoon [4:10]\n",
                           "3:05 Morning\n4:10 Noon\n", "1. Morning - 3:05\n2. Noon - 4:10\n"}) {
    ASSERT_EQ(ParseTrackNames(list, "x.wav", names), "") << list;
    EXPECT_EQ(titles(), (std::vector<std::string>{"Morning", "Noon"})) << list;
    EXPECT_EQ(names.Anchors(), std::vector<double>{185}) << list;
  }
  // A time that only some titles have bare is part of the title; a list
  // without a time for every track has no anchors.
  ASSERT_EQ(ParseTrackNames("10:15 Saturday Night\nSunday\n", "x.wav", names), "");
  EXPECT_EQ(titles(), (std::vector<std::string>{"10:15 Saturday Night", "Sunday"}));
  ASSERT_EQ(ParseTrackNames("Mambo (3:05)\nRumba\nTango 99:99\n", "x.wav", names), "");
  EXPECT_EQ(titles(), (std::vector<std::string>{"Mambo", "Rumba", "Tango 99:99"}));
  EXPECT_TRUE(names.Anchors().empty());
  EXPECT_FALSE(names.Total());
  // Cue sheets and listings give starts: the anchors are their distances
  // from the first.
  ASSERT_EQ(ParseTrackNames("FILE \"x.wav\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:02:00\n"
                            " TRACK 02 AUDIO\n  INDEX 01 03:07:30\n",
                            "x.wav", names),
            "");
  EXPECT_EQ(names.Anchors(), std::vector<double>{185.4});
  ASSERT_EQ(ParseTrackNames(R"({"file": "x.wav", "rate": 100, "parts": [
      {"start_frame": 50, "title": "a"}, {"start_frame": 18550, "title": "b"}]})",
                            "x.wav", names),
            "");
  EXPECT_EQ(names.Anchors(), std::vector<double>{185});
}

TEST_F(Tracks, AListsTimesPickTheGapsAndDoubtfulResultsAreSaid) {
  // Four tunes; the second holds a rest twice as long as the gaps between
  // them, so the three longest silences are not the three gaps.
  std::mt19937 random(5);
  const double lengths[] = {20, 25, 15, 20};
  Signal s(kRate, 0.0);
  std::vector<std::int64_t> starts;
  for (int k = 0; k < 4; ++k) {
    Signal tune = Tune(lengths[k], random);
    Normalise(tune, -10);
    if (k == 1) tune.insert(tune.begin() + 10 * kRate, 3 * kRate, 0.0);
    starts.push_back(static_cast<std::int64_t>(s.size()));
    s.insert(s.end(), tune.begin(), tune.end());
    s.insert(s.end(), static_cast<std::size_t>(1.5 * kRate), 0.0);
  }
  const Signal hiss = Background(Noise::Pink, s.size(), -70, random);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] += hiss[i];
  const std::string side = Write("side.wav", s);
  const auto plain = Listed({"list", "--tracks", "4", "-f", "json", side});
  ASSERT_EQ(plain.size(), 4u);
  bool missed = false;
  for (std::size_t k = 1; k < 4; ++k) missed |= std::llabs(plain[k].first - starts[k]) > kRate;
  EXPECT_TRUE(missed) << "the rest should outlast a gap";
  // The sleeve's times (each track with the silence after it) point to the
  // gaps; the tracks start where the test put them.
  dir.Put("sleeve.txt", ToBytes("A1 One 0:21\nA2 Two 0:30\nA3 Three 0:16\nA4 Four 0:21\n"));
  Ran ran = Cli({"list", "--names", dir / "sleeve.txt", "--tracks", "-f", "json", side});
  ASSERT_EQ(ran.status, 0) << ran.err;
  EXPECT_NE(ran.err.find("parted at the silences the track list's times point to"),
            std::string::npos)
      << ran.err;
  const Json listed = Json::parse(ran.out);
  ASSERT_EQ(listed[0]["parts"].size(), 4u);
  for (std::size_t k = 0; k < 4; ++k) {
    const Json& part = listed[0]["parts"][k];
    EXPECT_NEAR(part["start_frame"].get<std::int64_t>(), starts[k], 0.3 * kRate) << k;
    EXPECT_EQ(part["title"], (std::array<const char*, 4>{"One", "Two", "Three", "Four"}[k]));
  }
  // A title too many: its times do not fit, and it says which.
  dir.Put("more.txt", ToBytes("One (0:21)\nTwo (0:30)\nThree (0:16)\nFour (0:21)\nFive (0:20)\n"));
  ran = Cli({"list", "--names", dir / "more.txt", "--tracks", "-f", "json", side});
  EXPECT_NE(ran.err.find("the track list's durations add up to 1:48, and the recording's sound "
                         "lasts 1:2"),
            std::string::npos)
      << ran.err;

  // One part for five minutes of a recording whose gaps are under hiss.
  Signal tape(static_cast<std::size_t>(301 * kRate / 10), 0.0);
  for (std::size_t i = 0; i < tape.size(); ++i)
    tape[i] = 0.03 * std::sin(static_cast<double>(i) * 0.3) * (i / (30 * kRate / 10) % 2);
  const Signal tapeHiss = Background(Noise::Pink, tape.size(), -35, random);
  for (std::size_t i = 0; i < tape.size(); ++i) tape[i] += tapeHiss[i];
  Bytes wav = Wav16(tape);
  wave::WriteLe32(&wav[24], kRate / 10);  // played at 4410 Hz: five minutes
  wave::WriteLe32(&wav[28], kRate / 10 * 2);
  dir.Put("tape.wav", wav);
  ran = Cli({"count", dir / "tape.wav"});
  EXPECT_EQ(ran.status, 0);
  EXPECT_NE(ran.err.find("one part holds the whole recording (5:01)"), std::string::npos) << ran.err;
  // Hundreds of clicks, each its own part.
  Signal clicks(static_cast<std::size_t>(150 * kRate), 0.0);
  for (std::size_t k = 0; k < 150; ++k) clicks[k * kRate] = 0.5;
  ran = Cli({"count", Write("clicks.wav", clicks)});
  EXPECT_NE(ran.err.find("150 parts, half of them shorter than 0.00 s"), std::string::npos) << ran.err;
}

TEST(TrackNames, MakesFileNamesNoFileSystemRefuses) {
  EXPECT_EQ(batch::TrackFileName(3, 12, "Morning", ".flac"), "03 Morning.flac");
  EXPECT_EQ(batch::TrackFileName(7, 120, "x", ".wav"), "007 x.wav");
  EXPECT_EQ(batch::TrackFileName(1, 2, "../../etc/passwd", ".wav"), "01 _.._etc_passwd.wav");
  EXPECT_EQ(batch::TrackFileName(1, 2, "a\\b:c*d?e\"f<g>h|i\x07j", ".wav"),
            "01 a_b_c_d_e_f_g_h_i_j.wav");
  EXPECT_EQ(batch::TrackFileName(1, 2, " ... ", ".wav"), "01.wav");
  EXPECT_EQ(batch::TrackFileName(2, 2, "Ends in a dot.", ".wav"), "02 Ends in a dot.wav");
  std::string long_;
  for (int i = 0; i < 200; ++i) long_ += "\xC3\xA9";  // é, 400 bytes
  const std::string name = batch::TrackFileName(1, 2, long_, ".flac");
  EXPECT_LE(name.size(), 255u);
  EXPECT_TRUE(wave::IsUtf8(name));
  EXPECT_EQ(name.substr(name.size() - 5), ".flac");
}

// The tags of a WAV part's LIST-INFO chunk.
std::map<std::string, std::string> InfoOf(const Bytes& file) {
  std::map<std::string, std::string> info;
  for (std::size_t at = 12; at + 8 <= file.size();) {
    const std::string id(file.begin() + static_cast<std::ptrdiff_t>(at),
                         file.begin() + static_cast<std::ptrdiff_t>(at + 4));
    const std::size_t size = file[at + 4] | (file[at + 5] << 8) | (file[at + 6] << 16) |
                             (std::size_t{file[at + 7]} << 24);
    if (id == "LIST" &&
        std::string(file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                    file.begin() + static_cast<std::ptrdiff_t>(at + 12)) == "INFO") {
      for (std::size_t sub = at + 12; sub + 8 <= at + 8 + size;) {
        const std::string key(file.begin() + static_cast<std::ptrdiff_t>(sub),
                              file.begin() + static_cast<std::ptrdiff_t>(sub + 4));
        const std::size_t length = file[sub + 4] | (file[sub + 5] << 8);
        std::string text(file.begin() + static_cast<std::ptrdiff_t>(sub + 8),
                         file.begin() + static_cast<std::ptrdiff_t>(sub + 8 + length));
        text.resize(text.find('\0'));
        info[key] = text;
        sub += 8 + length + (length & 1);
      }
    }
    at += 8 + size + (size & 1);
  }
  return info;
}

TEST_F(Tracks, NamesAndTagsThePartsFromATrackList) {
  const Side side = MakeSide(kSides[0], 11);
  const std::string path = Write("side.wav", side.signal);
  const std::string list = dir / "titles.txt";
  WriteFile(list, ToBytes("Artist: Ünder Groove\nAlbum: Side \"B\"\nDate: 1972\n"
                          "1. ../../escape\n2. CON\n3. Who? What: <this> | that\n"
                          "4. Ça va\n5. \x1B[31mred\n"));
  const std::string out = dir / "out";
  fs::create_directory(out);
  // The count comes from the titles.
  const Ran flac = Cli({"split", "--tracks", "--names", list, "--to", "flac", "-o", out, path});
  ASSERT_EQ(flac.status, 0) << flac.err;
  std::set<std::string> written;
  for (const auto& entry : fs::directory_iterator(out)) written.insert(entry.path().filename());
  EXPECT_EQ(written, (std::set<std::string>{"01 _.._escape.flac", "02 CON.flac",
                                            "03 Who_ What_ _this_ _ that.flac", "04 Ça va.flac",
                                            "05 _[31mred.flac"}));
  const ShellResult tags = Shell("metaflac --export-tags-to=- '" + out + "/04 Ça va.flac'");
  ASSERT_EQ(tags.status, 0) << tags.err;
  for (const char* tag : {"TITLE=Ça va\n", "TRACKNUMBER=4\n", "TRACKTOTAL=5\n",
                          "ARTIST=Ünder Groove\n", "ALBUM=Side \"B\"\n", "DATE=1972\n"}) {
    EXPECT_NE(tags.out.find(tag), std::string::npos) << tag << " in\n" << tags.out;
  }
  // The terminal's escape stays in the tag as typed, and out of the name.
  EXPECT_NE(
      Shell("metaflac --show-tag=TITLE '" + out + "/05 _[31mred.flac'").out.find("\x1B[31mred"),
      std::string::npos);

  // WAV parts: a LIST-INFO chunk, --artist before the list's.
  const std::string wav = dir / "wav";
  fs::create_directory(wav);
  const Ran plain =
      Cli({"split", "--tracks", "5", "--names", list, "--artist", "Someone Else", "-o", wav, path});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const auto info = InfoOf(ReadFile(wav + "/02 CON.wav"));
  EXPECT_EQ(info.at("INAM"), "CON");
  EXPECT_EQ(info.at("IPRT"), "2/5");
  EXPECT_EQ(info.at("IART"), "Someone Else");
  EXPECT_EQ(info.at("IPRD"), "Side \"B\"");
  EXPECT_EQ(info.at("ICRD"), "1972");

  // list shows the names before anything is written, in JSON to be edited
  // and read back.
  const Ran listed = Cli({"list", "-f", "json", "--tracks", "--names", list, path});
  ASSERT_EQ(listed.status, 0) << listed.err;
  Json json = Json::parse(listed.out);
  EXPECT_EQ(json[0]["parts"][3]["title"], "Ça va");
  EXPECT_EQ(json[0]["parts"][3]["output"], "04 Ça va.wav");
  EXPECT_EQ(json[0]["album"], "Side \"B\"");
  json[0]["parts"][0]["title"] = "First";
  WriteFile(dir / "edited.json", ToBytes(json.dump()));
  const Ran again = Cli({"list", "--tracks", "--names", dir / "edited.json", path});
  EXPECT_NE(again.out.find("01 First.wav"), std::string::npos) << again.out << again.err;
  const Ran html = Cli({"list", "-f", "html", "--tracks", "--names", list, path});
  EXPECT_NE(html.out.find("04 Ça va.wav"), std::string::npos);
  EXPECT_NE(html.out.find("<title>Ça va</title>"), std::string::npos);
  EXPECT_NE(Cli({"levels", "--names", list, path}).out.find("suggested: --tracks 5 --threshold-db"),
            std::string::npos);
  const Ran cue = Cli({"list", "-f", "cue", "--tracks", "--names", list, path});
  EXPECT_NE(cue.out.find("REM DATE 1972\n"), std::string::npos) << cue.out;
  EXPECT_NE(cue.out.find("PERFORMER \"Ünder Groove\"\n"), std::string::npos) << cue.out;

  // Titles that do not match the parts found: refused with both counts.
  WriteFile(list, ToBytes("One\nTwo\nThree\n"));
  const std::string none = dir / "none";
  fs::create_directory(none);
  const Ran mismatch = Cli({"split", "--gap", "1", "--names", list, "-o", none, path});
  EXPECT_EQ(mismatch.status, 1);
  EXPECT_NE(mismatch.err.find("the track list has 3 titles and the recording 5 parts"),
            std::string::npos)
      << mismatch.err;
  EXPECT_TRUE(fs::is_empty(none));
  EXPECT_EQ(Cli({"split", "--names", list, "-o", none, path, path}).status, 2);

  // Side A's listing does not name side B's parts.
  const std::string other = Write("other.wav", side.signal);
  const Ran wrong = Cli({"list", "--tracks", "--names", dir / "edited.json", other});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("the track list is for another recording"), std::string::npos)
      << wrong.err;
  // A track list named as a part is never replaced by it.
  WriteFile(none + "/01 One.wav", ToBytes("One\nTwo\nThree\nFour\nFive\n"));
  const Ran kept = Cli({"split", "--tracks", "--names", none + "/01 One.wav", "-o", none, path});
  EXPECT_EQ(kept.status, 1);
  EXPECT_NE(kept.err.find("the track list of this run"), std::string::npos) << kept.err;
  EXPECT_EQ(ReadFile(none + "/01 One.wav"), ToBytes("One\nTwo\nThree\nFour\nFive\n"));
  // Tags go with titles; a count that is no count is refused as one.
  EXPECT_EQ(Cli({"split", "--artist", "X", "-o", none, path}).status, 2);
  const Ran negative = Cli({"count", "--tracks", "-1", "--names", list, path});
  EXPECT_EQ(negative.status, 2);
  EXPECT_NE(negative.err.find("not '-1'"), std::string::npos) << negative.err;
}

// --- the choice against a model ------------------------------------------

// The silent runs between loud windows at a floor, the longest first.
std::vector<detect::SilentRun> ModelRuns(const std::vector<double>& peaks, double limit,
                                         std::int64_t shortest) {
  std::vector<detect::SilentRun> runs;
  std::int64_t lastLoud = -1;
  for (std::size_t w = 0; w < peaks.size(); ++w) {
    if (peaks[w] <= limit) continue;
    const auto window = static_cast<std::int64_t>(w);
    if (lastLoud >= 0 && window - lastLoud - 1 >= shortest)
      runs.push_back({lastLoud + 1, window - lastLoud - 1});
    lastLoud = window;
  }
  std::stable_sort(runs.begin(), runs.end(),
                   [](const auto& a, const auto& b) { return a.windows > b.windows; });
  return runs;
}

TEST(TrackChoice, TakesTheLongestSilencesAtTheFloorGiven) {
  std::mt19937 random(5);
  wave::SourceInfo info;
  info.bits = 16;
  info.channels = 1;
  info.rate = 44100;
  for (int round = 0; round < 200; ++round) {
    // Windows of sound and silence in runs of random lengths, some equal.
    std::vector<double> peaks;
    std::uniform_int_distribution<int> run(1, 60), level(0, 3);
    while (peaks.size() < 3000) {
      const double peak = std::array{0.0, 0.001, 0.2, 0.9}[static_cast<std::size_t>(level(random))];
      peaks.insert(peaks.end(), static_cast<std::size_t>(run(random) / 3 * 3 + 1), peak);
    }
    const double floorDb = -40;  // 0.01 of full scale: 0.001 is silent, 0.2 loud
    const std::int64_t shortest = 1 + round % 5;
    detect::TrackSurvey survey(info, -96, shortest, floorDb);
    for (double peak : peaks) survey.Add(peak);
    survey.Finish();
    const auto runs = ModelRuns(peaks, detect::SilentPeak(info, floorDb), shortest);
    const int tracks = 1 + round % 8;
    const detect::TrackChoice choice = survey.Choose(tracks, floorDb, -96, 0, 0);
    if (runs.size() + 1 < static_cast<std::size_t>(tracks)) {
      EXPECT_FALSE(choice.found) << "round " << round;
      continue;
    }
    ASSERT_TRUE(choice.found) << "round " << round;
    std::vector<detect::SilentRun> expected(runs.begin(), runs.begin() + tracks - 1);
    std::sort(expected.begin(), expected.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    EXPECT_EQ(choice.gaps, expected) << "round " << round;
    if (runs.size() >= static_cast<std::size_t>(tracks)) {
      ASSERT_TRUE(choice.runnerUp.has_value());
      EXPECT_EQ(*choice.runnerUp, runs[static_cast<std::size_t>(tracks - 1)]) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace corvella::test
