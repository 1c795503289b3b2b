// An engine with a prepared job and a recorder of its log lines, for option tests.
#pragma once

#include "AVEntryPoints.h"
#include "FFmpeg.h"
#include "OptionValues.h"
#include "ScriptedEngine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::EnsureLibrariesLoaded();
        engine.InitializeJob();
        recorder.Attach(engine);
    }

    // The message of what SetOption raises, or "" when it raises nothing.
    template <typename Exception = std::exception>
    std::string Rejection(const std::string &name, const std::string &value)
    {
        try {
            engine.SetOption(name, value);
        } catch (const Exception &e) {
            return e.what();
        }
        return "";
    }

    // Sets up one input and one output with the given option lines, then runs the job here.
    bool Convert(const std::string &input, const std::string &output, const std::string &inputOptions = "",
                 const std::string &outputOptions = "")
    {
        engine.ParseOptionLines(inputOptions);
        if (!engine.AddInputFile(input)) {
            ADD_FAILURE() << engine.LastErrorText;
            return false;
        }
        engine.ParseOptionLines(outputOptions);
        if (!engine.AddOutputFile(output)) {
            ADD_FAILURE() << engine.LastErrorText;
            return false;
        }
        engine.Start(false, tpNormal);
        return engine.Finished != 0;
    }

    CallbackRecorder recorder;
    TCustomFFmpeg engine;
};

using Reader = std::function<double(const TCustomFFmpeg &)>;

