#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
/** Owns the framework for the whole run, as an application would. */
class JuceEnvironment final : public ::testing::Environment
{
public:
    void SetUp() override
    {
        // A test binary is no JUCE application; without this JUCE installs no X
        // error handler and Xlib ends the process on the first harmless X error.
        juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase* { return nullptr; };
        initialiser = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
    }

    void TearDown() override { initialiser.reset(); }

private:
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> initialiser;
};
} // namespace

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    ::testing::AddGlobalTestEnvironment (new JuceEnvironment());
    return RUN_ALL_TESTS();
}
