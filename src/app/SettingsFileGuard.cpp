#include "app/SettingsFileGuard.h"

#include <iostream>

namespace
{
/** UTF-8 in shortest form, nothing beyond U+10FFFF. Whatever passes can be walked a
    character at a time without running past its end. Lone surrogates pass: the framework
    makes them from UTF-16 text with characters beyond the first plane, and writes them so.
*/
bool isWellFormedUtf8 (const juce::uint8* text, size_t size)
{
    for (size_t i = 0; i < size;)
    {
        const auto lead = text[i];

        if (lead < 0x80)
        {
            ++i;
            continue;
        }

        size_t extra;
        juce::uint32 smallest;

        if (lead >= 0xc2 && lead <= 0xdf)      { extra = 1; smallest = 0x80; }
        else if (lead >= 0xe0 && lead <= 0xef) { extra = 2; smallest = 0x800; }
        else if (lead >= 0xf0 && lead <= 0xf4) { extra = 3; smallest = 0x10000; }
        else return false;

        if (size - i <= extra)
            return false;

        juce::uint32 c = lead & (0x3fu >> extra);

        for (size_t k = 1; k <= extra; ++k)
        {
            const auto next = text[i + k];

            if ((next & 0xc0) != 0x80)
                return false;

            c = (c << 6) | (next & 0x3fu);
        }

        if (c < smallest || c > 0x10ffff)
            return false;

        i += extra + 1;
    }

    return true;
}

/** Walks the binary properties data exactly as the framework's reader does. */
bool binaryPropertiesAreWellFormed (juce::InputStream& source)
{
    juce::BufferedInputStream in (source, 2048);
    juce::MemoryOutputStream text;

    for (int count = in.readInt(); --count >= 0 && ! in.isExhausted();)
    {
        for (int keyThenValue = 0; keyThenValue < 2; ++keyThenValue)
        {
            text.reset();

            // An exhausted stream reads as zero bytes, which ends the text.
            for (auto c = in.readByte(); c != 0; c = in.readByte())
                text.writeByte (c);

            if (! isWellFormedUtf8 (static_cast<const juce::uint8*> (text.getData()), text.getDataSize()))
                return false;
        }
    }

    return true;
}

/** XML the framework parses straight from the file's bytes, taking them as UTF-8 unchecked;
    only text with a UTF-16 byte order mark, or of two bytes or less, it converts first.
*/
bool xmlTextIsWellFormed (const juce::uint8* data, size_t size)
{
    if (size <= 2 || juce::CharPointer_UTF16::isByteOrderMarkBigEndian (data)
        || juce::CharPointer_UTF16::isByteOrderMarkLittleEndian (data))
        return true;

    // Its first look, for the outer tag, reads only this much of the file: that must not
    // end inside a character either.
    constexpr size_t firstLook = 8192;

    if (size > firstLook && (data[firstLook] & 0xc0) == 0x80)
        return false;

    const size_t start = juce::CharPointer_UTF8::isByteOrderMark (data) ? 3 : 0;
    return isWellFormedUtf8 (data + start, size - start);
}
} // namespace

bool settingsFileLoadsSafely (const juce::File& file)
{
    juce::MemoryBlock bytes;

    if (! file.loadFileAsData (bytes))
        return true; // nothing the framework can read either

    const auto* data = static_cast<const juce::uint8*> (bytes.getData());
    const auto size = bytes.getSize();

    if (size >= 4)
    {
        const auto magic = (int) juce::ByteOrder::littleEndianInt (data);
        juce::MemoryInputStream afterMagic (data + 4, size - 4, false);

        if (magic == (int) juce::ByteOrder::makeInt ('P', 'R', 'O', 'P'))
            return binaryPropertiesAreWellFormed (afterMagic);

        if (magic == (int) juce::ByteOrder::makeInt ('C', 'P', 'R', 'P'))
        {
            juce::GZIPDecompressorInputStream properties (afterMagic);
            return binaryPropertiesAreWellFormed (properties);
        }
    }

    return xmlTextIsWellFormed (data, size);
}

juce::PropertiesFile::Options settingsOptionsSafeToOpen (juce::PropertiesFile::Options options)
{
    const auto file = options.getDefaultFile();

    if (! file.existsAsFile() || settingsFileLoadsSafely (file))
        return options;

    std::cerr << "Tarvik Panel: the settings file " << file.getFullPathName()
              << " is damaged; starting from the defaults" << std::endl;

    if (file.deleteFile())
        return options;

    // Inside the damaged file: nothing there to read, and no folder can be made to save in.
    options.folderName = file.getFullPathName();
    options.doNotSave = true;
    return options;
}
