#pragma once

// What the bad-input suites share: the broken settings files, the default window place, and
// the counting of failed checks per input.

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

namespace tarvik::test
{
constexpr int programStartTimeout = 30000;
constexpr int programExitTimeout = 20000;
/** Height of the in-window menu bar above the face. */
constexpr int menuBarStrip = 24;

/** The first "POS: " line of a program's error stream, once the line after it shows that it
    is complete (the stream is unbuffered and a line arrives in pieces); "" if there is none.
*/
inline juce::String positionLine (const juce::String& standardError)
{
    const auto lines = juce::StringArray::fromLines (standardError);
    for (int i = 0; i + 1 < lines.size(); ++i)
        if (lines[i].startsWith ("POS: ") && lines[i + 1].startsWith ("POS: Korr: "))
            return lines[i];
    return {};
}

/** The top-left corner of the default 316 x 405 face, centred on the main display. */
inline juce::Point<int> defaultCentredPosition()
{
    const auto area = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
    return area.getCentre() - juce::Point<int> (316 / 2, (405 + menuBarStrip) / 2);
}

/** Checks that failed so far in the running test; the difference over one input tells
    whether that input failed.
*/
inline int failedChecks()
{
    const auto* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int failed = 0;
    for (int i = 0; i < result->total_part_count(); ++i)
        failed += result->GetTestPartResult (i).failed() ? 1 : 0;
    return failed;
}

/** The settings file in a settings folder. */
inline juce::File settingsFileIn (const juce::File& folder) { return folder.getChildFile ("Tarvik Panel.settings"); }

inline juce::String propertiesXml (const juce::String& values)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\n<PROPERTIES>\n" + values + "</PROPERTIES>\n";
}

inline juce::String valueXml (const juce::String& key, const juce::String& value)
{
    return "  <VALUE name=\"" + key + "\" val=\"" + value + "\"/>\n";
}

/** "<!DOCTYPE" with an entity that refers to itself, as an attacker writes it. */
inline juce::String entityBomb()
{
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE PROPERTIES [<!ENTITY a \"&&a;\">]>\n<PROPERTIES>\n"
           + valueXml ("loopback", "&a;") + "</PROPERTIES>\n";
}

/** A document type that names a file to read its entities from. */
inline juce::String externalEntity (const juce::String& path)
{
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE PROPERTIES SYSTEM \"" + path + "\">\n<PROPERTIES>\n"
           + valueXml ("loopback", "&x;") + "</PROPERTIES>\n";
}

inline juce::String nestedElements (int depth)
{
    return "<PROPERTIES>" + juce::String::repeatedString ("<a>", depth) + juce::String::repeatedString ("</a>", depth) + "</PROPERTIES>";
}

inline juce::String manyEntries (int count)
{
    // Appending to a juce::String measures it each time; a stream keeps this linear.
    juce::MemoryOutputStream values;
    for (int i = 0; i < count; ++i)
        values << "  <VALUE name=\"key" << i << "\" val=\"" << i << "\"/>\n";
    return propertiesXml (values.toString() + valueXml ("loopback", "1"));
}

/** A count for a repeated check: the environment variable's value if set, else the given one. */
inline int repeatCount (const char* variable, int fallback)
{
    const auto value = juce::SystemStats::getEnvironmentVariable (variable, {}).getIntValue();
    return value > 0 ? value : fallback;
}

/** One broken settings set-up and what the panel owes it. */
struct SettingsCase
{
    const char* name;
    /** Lays the settings folder out; the folder exists and is empty when this is called. */
    std::function<void (const juce::File& folder)> prepare;
    /** What the file's "loopback" holds after a run that could write, or empty when the
        key must be absent or the file is no properties file of ours.
    */
    juce::String storedLoopbackAfter;
    /** Whether a run is able to write the file (false for the folder or file being in the way). */
    bool fileCanBeWritten = true;
    /** Whether the file is taken as damaged (the one line on stderr) rather than read or missing. */
    bool damaged = true;
};

inline void writeBytes (const juce::File& file, const juce::MemoryBlock& bytes)
{
    ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
}

inline juce::MemoryBlock junk (size_t size, unsigned seed, const char* prefix = "")
{
    juce::MemoryBlock block (std::max (size, std::strlen (prefix)));
    block.copyFrom (prefix, 0, std::strlen (prefix));
    std::mt19937 random (seed);
    for (auto i = std::strlen (prefix); i < block.getSize(); ++i)
        block[i] = (char) (random() & 0xff);
    return block;
}

/** The bytes of a text exactly as they stand, valid UTF-8 or not. */
inline juce::MemoryBlock rawBytes (const std::string& text) { return { text.data(), text.size() }; }

/** Settings in the framework's binary properties format ("PROP"), or its compressed form
    ("CPRP"), holding exactly the given bytes as keys and values, however broken.
*/
inline juce::MemoryBlock binaryProperties (const std::vector<std::pair<std::string, std::string>>& pairs, bool compressed)
{
    juce::MemoryOutputStream body;
    body.writeInt ((int) pairs.size());
    for (auto& [key, value] : pairs)
    {
        body.write (key.c_str(), key.size() + 1);
        body.write (value.c_str(), value.size() + 1);
    }

    juce::MemoryOutputStream file;
    file.write (compressed ? "CPRP" : "PROP", 4);
    if (compressed)
    {
        juce::GZIPCompressorOutputStream zipped (file, 9);
        zipped.write (body.getData(), body.getDataSize());
    }
    else
    {
        file.write (body.getData(), body.getDataSize());
    }
    return file.getMemoryBlock();
}

/** A binary settings file whose window position ends inside a three-byte character, as a
    damaged disk or a cut-off write leaves it; "loopback" in it is valid.
*/
inline juce::MemoryBlock binaryPropertiesWithACharacterCutShort (bool compressed)
{
    return binaryProperties ({ { "loopback", "1" }, { "WindowPosition", "10 20 316 4\xef" } }, compressed);
}

/** The bytes of a binary settings file's pairs after the four-byte count, as the framework
    writes them. */
inline size_t binaryPairBytes (const std::vector<std::pair<std::string, std::string>>& pairs)
{
    size_t size = 0;
    for (auto& [key, value] : pairs)
        size += key.size() + 1 + value.size() + 1;
    return size;
}

/** "loopback" = "1" and then numbered pairs, count pairs in all. */
inline std::vector<std::pair<std::string, std::string>> pairsWithLoopback (int count)
{
    std::vector<std::pair<std::string, std::string>> pairs { { "loopback", "1" } };
    for (int i = 1; i < count; ++i)
        pairs.push_back ({ "key" + std::to_string (i), std::to_string (i) });
    return pairs;
}

/** A compressed binary file holding "loopback" = "1" whose data decompresses to exactly the
    given number of bytes. */
inline juce::MemoryBlock compressedOfDecompressedSize (size_t decompressed)
{
    const std::vector<std::pair<std::string, std::string>> head { { "loopback", "1" }, { "pad", "" } };
    const auto padding = decompressed - 4 - binaryPairBytes (head);
    return binaryProperties ({ head[0], { "pad", std::string (padding, 'x') } }, true);
}

/** How many bytes a compressed binary file's data decompresses to. */
inline size_t decompressedSize (const juce::File& file)
{
    juce::FileInputStream in (file);
    in.setPosition (4);
    juce::GZIPDecompressorInputStream unzipped (in);
    juce::MemoryOutputStream out;
    out.writeFromInputStream (unzipped, -1);
    return out.getDataSize();
}

/** An XML settings file holding "loopback" = "1" of exactly the given size, written as the
    bytes stand (replaceWithText would make each line end two bytes long). */
inline void writeXmlOfExactSize (const juce::File& file, size_t bytes)
{
    const auto head = propertiesXml (valueXml ("loopback", "1") + valueXml ("x", "")).toStdString();
    auto text = head;
    text.insert (text.rfind ("\"\"") + 1, std::string (bytes - head.size(), 'x'));
    writeBytes (file, rawBytes (text));
    ASSERT_EQ (file.getSize(), (juce::int64) bytes);
}

/** The table of broken settings. */
inline std::vector<SettingsCase> brokenSettings()
{
    auto file = [] (const juce::String& text) {
        return [text] (const juce::File& folder) { ASSERT_TRUE (settingsFileIn (folder).replaceWithText (text)); };
    };
    // The large texts are made when their row runs: every process of the binary lists the table.
    auto fileMadeBy = [] (std::function<juce::String()> make) {
        return [make] (const juce::File& folder) { ASSERT_TRUE (settingsFileIn (folder).replaceWithText (make())); };
    };

    const auto fullXml = propertiesXml (valueXml ("loopback", "1") + valueXml ("WindowPosition", "100 120 316 429"));

    return {
        { "empty file", file (""), "", true },
        { "not XML", file ("loopback=1\nWindowPosition=100 120 316 429\n"), "", true },
        { "truncated XML", file (fullXml.substring (0, fullXml.indexOf ("WindowPosition") + 5)), "", true },
        { "binary junk", [] (const juce::File& f) { writeBytes (settingsFileIn (f), junk (4096, 7)); }, "", true },
        // The framework's binary and compressed properties formats, with nonsense after their magic.
        { "junk behind the binary magic", [] (const juce::File& f) { writeBytes (settingsFileIn (f), junk (4096, 8, "PROP")); }, "", true },
        { "junk behind the compressed magic", [] (const juce::File& f) { writeBytes (settingsFileIn (f), junk (4096, 9, "CPRP")); }, "", true },
        // Texts the framework would take as UTF-8 unchecked.
        { "XML ending inside a character",
          [] (const juce::File& f) { writeBytes (settingsFileIn (f), rawBytes (propertiesXml (valueXml ("loopback", "1")).toStdString() + "\xf0")); }, "", true },
        { "XML in Latin-1",
          [] (const juce::File& f) {
              const auto text = "<PROPERTIES>" + valueXml ("loopback", "1").toStdString() + "<VALUE name=\"Caf\xe9\" val=\"\xff\"/></PROPERTIES>";
              writeBytes (settingsFileIn (f), rawBytes (text));
          },
          "", true },
        { "binary format, a key ending inside a character",
          [] (const juce::File& f) { writeBytes (settingsFileIn (f), binaryProperties ({ { "loop\xef", "1" }, { "loopback", "1" } }, false)); }, "", true },
        { "binary format, a value ending inside a character",
          [] (const juce::File& f) { writeBytes (settingsFileIn (f), binaryPropertiesWithACharacterCutShort (false)); }, "", true },
        { "binary format, a lone continuation byte and an overlong slash",
          [] (const juce::File& f) { writeBytes (settingsFileIn (f), binaryProperties ({ { "loopback", "1" }, { "Window\x80", "\xc0\xaf" } }, false)); }, "", true },
        { "compressed format, a value ending inside a character",
          [] (const juce::File& f) { writeBytes (settingsFileIn (f), binaryPropertiesWithACharacterCutShort (true)); }, "", true },
        // Binary data the framework stops reading quietly: too short, too long, or cut off.
        { "binary format, a pair count of 0xFFFFFFFF and a short body",
          [] (const juce::File& f) { writeBytes (settingsFileIn (f), rawBytes (std::string ("PROP\xff\xff\xff\xffloopback\0" "1\0", 19))); }, "", true },
        { "binary format, more pairs counted than held",
          [] (const juce::File& f) {
              auto bytes = binaryProperties ({ { "loopback", "1" }, { "WindowPosition", "100 120 316 429" } }, false);
              bytes[4] = 3;
              writeBytes (settingsFileIn (f), bytes);
          }, "", true },
        { "binary format, bytes after the last pair",
          [] (const juce::File& f) {
              auto bytes = binaryProperties ({ { "loopback", "1" } }, false);
              bytes.append ("junk", 4);
              writeBytes (settingsFileIn (f), bytes);
          }, "", true },
        { "compressed format, bytes that do not decompress",
          [] (const juce::File& f) { writeBytes (settingsFileIn (f), rawBytes ("CPRPnot compressed at all")); }, "", true },
        { "compressed format, the data cut off half-way",
          [] (const juce::File& f) {
              std::mt19937 random (12);
              std::string digits (4000, '0');
              for (auto& d : digits)
                  d = (char) ('0' + random() % 10);
              auto bytes = binaryProperties ({ { "loopback", "1" }, { "WindowPosition", digits } }, true);
              bytes.setSize (bytes.getSize() / 2);
              writeBytes (settingsFileIn (f), bytes);
          }, "", true },
        { "binary format, pairs one beyond the bound",
          [] (const juce::File& f) {
              const auto pairs = pairsWithLoopback (1001);
              ASSERT_EQ (pairs.size(), 1001u);
              writeBytes (settingsFileIn (f), binaryProperties (pairs, false));
          }, "", true },
        { "compressed format, one byte beyond 1 MiB decompressed",
          [] (const juce::File& f) {
              writeBytes (settingsFileIn (f), compressedOfDecompressedSize (1024 * 1024 + 1));
              ASSERT_EQ (decompressedSize (settingsFileIn (f)), (size_t) 1024 * 1024 + 1);
          }, "", true },
        { "huge file (20 MB window position)",
          [] (const juce::File& f) {
              const auto huge = juce::String::repeatedString ("x", 20 * 1024 * 1024);
              ASSERT_TRUE (settingsFileIn (f).replaceWithText (propertiesXml (valueXml ("WindowPosition", huge))));
          },
          "", true },
        // Files that used to crash, hang or exhaust the framework's own loading.
        { "entity bomb", fileMadeBy (entityBomb), "", true },
        { "external entity naming a FIFO", [] (const juce::File& f) {
              const auto fifo = f.getChildFile ("a-fifo");
              ASSERT_EQ (::mkfifo (fifo.getFullPathName().toRawUTF8(), 0600), 0);
              ASSERT_TRUE (settingsFileIn (f).replaceWithText (externalEntity (fifo.getFullPathName())));
          }, "", true },
        { "external entity naming /dev/zero", file (externalEntity ("/dev/zero")), "", true },
        { "document type without entities", file ("<!DOCTYPE PROPERTIES>\n" + propertiesXml (valueXml ("loopback", "1")).fromFirstOccurrenceOf ("\n\n", false, false)), "", true },
        { "50,000 nested elements", fileMadeBy ([] { return nestedElements (50000); }), "", true },
        { "1,000,000 nested elements", fileMadeBy ([] { return nestedElements (1000000); }), "", true },
        // 33 levels: PROPERTIES, VALUE and 31 more, behind a value that reading would keep.
        { "nesting one beyond the bound, small",
          file (propertiesXml (valueXml ("loopback", "1") + "  <VALUE name=\"deep\">" + juce::String::repeatedString ("<a>", 31)
                               + juce::String::repeatedString ("</a>", 31) + "</VALUE>\n")), "", true },
        { "a character reference to NUL", file (propertiesXml (valueXml ("loopback", "1") + valueXml ("x", "a&#0;b"))), "", true },
        { "a hexadecimal character reference to NUL", file (propertiesXml (valueXml ("loopback", "1") + valueXml ("x", "a&#x0;b"))), "", true },
        // Deep nesting within 64 KiB, behind a comment and an instruction that end later than they seem to.
        { "nesting after a comment opened as \"<!-->\"",
          fileMadeBy ([] { return "<PROPERTIES><!--> <![CDATA[ -->" + juce::String::repeatedString ("<a>", 20000) + "]]></PROPERTIES>"; }), "", true },
        { "nesting after an instruction opened as \"<?>\"",
          fileMadeBy ([] { return "<?> <![CDATA[ ?><PROPERTIES>" + juce::String::repeatedString ("<a>", 20000) + "]]></PROPERTIES>"; }), "", true },
        { "100,000 entries", fileMadeBy ([] { return manyEntries (100000); }), "", true },
        { "entries beyond the bound, small", file (propertiesXml (valueXml ("loopback", "1") + juce::String::repeatedString ("<V/>", 999))), "", true },
        { "a FIFO", [] (const juce::File& f) { ASSERT_EQ (::mkfifo (settingsFileIn (f).getFullPathName().toRawUTF8(), 0600), 0); }, "", true },
        { "a link to a FIFO", [] (const juce::File& f) {
              const auto fifo = f.getChildFile ("a-fifo");
              ASSERT_EQ (::mkfifo (fifo.getFullPathName().toRawUTF8(), 0600), 0);
              ASSERT_TRUE (fifo.createSymbolicLink (settingsFileIn (f), true));
          }, "", true },
        { "a link to /dev/zero", [] (const juce::File& f) { ASSERT_TRUE (juce::File ("/dev/zero").createSymbolicLink (settingsFileIn (f), true)); }, "", true },
        { "10 MB file", [] (const juce::File& f) { writeBytes (settingsFileIn (f), junk (10 * 1024 * 1024, 11, "<?xml version=\"1.0\"?><PROPERTIES>")); }, "", true },
        { "one byte beyond 64 KiB", [] (const juce::File& f) { writeXmlOfExactSize (settingsFileIn (f), 64 * 1024 + 1); }, "", true },
        { "window position as words", file (propertiesXml (valueXml ("WindowPosition", "left top wide tall"))), "", true, false },
        { "window position with three numbers", file (propertiesXml (valueXml ("WindowPosition", "100 120 316"))), "", true, false },
        { "window position as an empty rectangle", file (propertiesXml (valueXml ("WindowPosition", "100 120 0 429"))), "", true, false },
        { "window position beyond any screen", file (propertiesXml (valueXml ("WindowPosition", "2147483647 -2147483648 316 429"))), "", true, false },
        { "window position with a number beyond any int", file (propertiesXml (valueXml ("WindowPosition", "100 99999999999999999999 316 429"))), "", true, false },
        { "window position as an element",
          file (propertiesXml ("  <VALUE name=\"WindowPosition\"><RECT x=\"1\" y=\"2\" w=\"316\" h=\"429\"/></VALUE>\n")), "", true, false },
        { "loopback as a word", file (propertiesXml (valueXml ("loopback", "on"))), "on", true, false },
        { "loopback 2", file (propertiesXml (valueXml ("loopback", "2"))), "0", true, false },
        { "loopback -1", file (propertiesXml (valueXml ("loopback", "-1"))), "0", true, false },
        { "loopback beyond any int", file (propertiesXml (valueXml ("loopback", "4294967297"))), "0", true, false },
        { "loopback as an element", file (propertiesXml ("  <VALUE name=\"loopback\"><ON/></VALUE>\n")), "<ON/>", true, false },
        { "both keys missing", file (propertiesXml (valueXml ("Loopback", "1") + valueXml ("windowposition", "100 120 316 429"))), "", true, false },
        { "a folder in the file's place",
          [] (const juce::File& f) { ASSERT_TRUE (settingsFileIn (f).createDirectory().wasOk()); }, "", false },
        { "a file in the folder's place",
          [] (const juce::File& f) { ASSERT_TRUE (f.deleteRecursively()); ASSERT_TRUE (f.replaceWithText ("not a folder")); }, "", false, false },
        // Taken as "can be written" only where the permissions really hold (not for root).
        { "read-only folder",
          [] (const juce::File& f) {
              ASSERT_TRUE (settingsFileIn (f).replaceWithText (propertiesXml (valueXml ("loopback", "2"))));
              ::chmod (f.getFullPathName().toRawUTF8(), 0555);
              ::chmod (settingsFileIn (f).getFullPathName().toRawUTF8(), 0444);
          },
          "0", true, false },
    };
}

/** Whether files can be made in the folder, as the current user, right now. */
inline bool canWriteIn (const juce::File& folder)
{
    if (! folder.isDirectory())
        return false;
    const auto probe = folder.getChildFile (".probe");
    const bool ok = probe.replaceWithText ("x");
    probe.deleteFile();
    return ok;
}

/** Undoes the read-only case so that the folder can be removed. */
inline void makeWritableAgain (const juce::File& folder)
{
    ::chmod (folder.getFullPathName().toRawUTF8(), 0755);
    ::chmod (settingsFileIn (folder).getFullPathName().toRawUTF8(), 0644);
}

/** What a settings folder holds now, to tell that nothing was changed. */
inline juce::String folderSnapshot (const juce::File& folder)
{
    if (folder.existsAsFile())
        return "file:" + folder.loadFileAsString();
    const auto f = settingsFileIn (folder);
    struct stat info {};
    // Never read a FIFO or what a link points at: that would block, or never end.
    if (::lstat (f.getFullPathName().toRawUTF8(), &info) == 0 && S_ISLNK (info.st_mode))
        return "link to " + f.getLinkedTarget().getFullPathName();
    if (::lstat (f.getFullPathName().toRawUTF8(), &info) == 0 && ! S_ISREG (info.st_mode) && ! S_ISDIR (info.st_mode))
        return "special file";
    if (f.isDirectory())
        return "folder in the file's place";
    return f.existsAsFile() ? "file:" + juce::String (f.getSize()) + ":" + f.loadFileAsString().substring (0, 200) : "none";
}

/** Checks that the file holds valid settings XML with the window position starting as given
    and "loopback" as the case promises.
*/
inline void expectValidSettingsFile (const juce::File& folder, const SettingsCase& c, const juce::String& windowPrefix)
{
    auto xml = juce::parseXML (settingsFileIn (folder));
    ASSERT_NE (xml, nullptr) << "no valid XML was written";
    EXPECT_TRUE (xml->hasTagName ("PROPERTIES"));

    juce::PropertiesFile::Options options;
    options.applicationName = "Tarvik Panel";
    options.filenameSuffix = ".settings";
    options.folderName = folder.getFullPathName();
    juce::PropertiesFile stored (options);
    EXPECT_TRUE (stored.getValue ("WindowPosition").startsWith (windowPrefix)) << stored.getValue ("WindowPosition").substring (0, 80);

    if (c.storedLoopbackAfter.isEmpty())
        EXPECT_FALSE (stored.containsKey ("loopback")) << "loopback written as '" << stored.getValue ("loopback") << "'";
    else
        EXPECT_EQ (stored.getValue ("loopback"), c.storedLoopbackAfter);
}
} // namespace tarvik::test
