#pragma once

#include <juce_data_structures/juce_data_structures.h>

/** Whether the framework can load this settings file without harm.

    The framework takes the text of a settings file as UTF-8 without checking it: XML
    straight from the file's bytes, and each key and value of its binary properties formats
    ("PROP", and "CPRP" compressed). A character cut short there lets its text walkers run
    past the end of the data, inside the framework's own loading code. So every text it
    would read that way is checked here first. A missing or unreadable file is safe.
*/
bool settingsFileLoadsSafely (const juce::File& file);

/** The settings options to open: the given ones, once a settings file that would not load
    safely has been removed, so that the panel starts from its defaults and its next save
    writes a fresh file. Where the file cannot be removed, the options point at a place
    that holds nothing and where nothing can be saved.
*/
juce::PropertiesFile::Options settingsOptionsSafeToOpen (juce::PropertiesFile::Options options);
