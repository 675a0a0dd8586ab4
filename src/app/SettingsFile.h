#pragma once

#include <sys/types.h>

#include <juce_data_structures/juce_data_structures.h>

/** What became of reading a settings file. */
enum class SettingsFileRead
{
    missing, ///< nothing at the path: the defaults apply
    loaded,  ///< read and checked; the properties hold what it said
    damaged  ///< there, but not a settings file that can be trusted: the defaults apply
};

/** Reads a settings file once, within bounds, and fills the properties from exactly the
    bytes that were checked.

    The framework's own loading trusts the file: it blocks on a FIFO, reads a device or a
    file of any size whole, follows a document type to other files and expands entities
    without end, recurses once per nested element, and takes the text as UTF-8 unchecked.
    Here only a regular file of at most maxBytes is read, without blocking and without
    following a link to anything else; XML must carry no document type and no entity
    beyond the predefined ones and character references, and stay within maxNesting and
    maxElements; the binary properties formats ("PROP", and "CPRP" compressed) must decode
    whole, to exactly the pairs they count, within maxElements pairs and with well-formed
    UTF-8 in every key and value. Whatever passes is read the way the framework reads it, so
    every file the framework writes reads the same.
*/
SettingsFileRead readSettingsFile (const juce::File& file, juce::StringPairArray& properties);

/** The panel's settings: the settings file as readSettingsFile() reads it, saved the way
    juce::PropertiesFile saves it (same formats, same delay before saving, a temporary file
    replacing the old one), so the file stays one the framework reads.

    A damaged file is reported with one line on the error stream; the panel then runs on
    the defaults and its next save replaces the file. Temporary files that an interrupted
    save of this file left behind are removed when it is opened.

    Create, use and destroy an object on the message thread.
*/
class SettingsFile final : public juce::PropertySet,
                           private juce::Timer
{
public:
    explicit SettingsFile (const juce::PropertiesFile::Options& options);
    ~SettingsFile() override;

    /** Writes the file now; false where it cannot be written (or saving is off). */
    bool save();

    /** Writes the file if anything changed since it was read or last written. */
    bool saveIfNeeded();

    juce::File getFile() const { return file; }

    /** Removes what an interrupted save of this file left beside it: regular files of this
        user named as the framework names its temporary files for it. Nothing else is touched.
    */
    static void removeStaleTemporaryFiles (const juce::File& settingsFile);

    /** The same for the files of the given user, so that the owner check can be tried
        without the rights to make another user's file. */
    static void removeStaleTemporaryFiles (const juce::File& settingsFile, uid_t owner);

private:
    void propertyChanged() override;
    void timerCallback() override;

    const juce::File file;
    const juce::PropertiesFile::Options options;
    bool needsWriting = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SettingsFile)
};

namespace settingsLimits
{
constexpr size_t maxBytes = 64 * 1024;
/** The decompressed size of the compressed binary form. */
constexpr size_t maxDecompressedBytes = 1024 * 1024;
constexpr int maxNesting = 32;
constexpr int maxElements = 1000;
} // namespace settingsLimits
