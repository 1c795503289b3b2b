// An engine with a prepared job and a recorder of its log lines, for option tests.
#pragma once

#include "engine/FFmpeg.h"
#include "engine/OptionValues.h"
#include "libs/AVEntryPoints.h"
#include "tests/engine/ScriptedEngine.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::EnsureLibrariesLoaded();
        engine.InitializeJob();
        recorder.Attach(engine);
    }

    // Converts input into output with an engine of its own and these output options: "" when the
    // run finished, else why not.
    static std::string ConvertAlone(const std::string &input, const std::string &output,
                                    const std::map<std::string, std::string> &outputOptions = {})
    {
        TCustomFFmpeg e;
        e.InitializeJob();
        if (!e.AddInputFile(input))
            return e.LastErrorText;
        for (const auto &[name, value] : outputOptions)
            e.SetOption(name, value);
        if (!e.AddOutputFile(output))
            return e.LastErrorText;
        e.Start(false, tpNormal);
        return e.Finished ? "" : e.ErrorMessage.empty() ? "not finished" : e.ErrorMessage;
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

    // An option and whether the engine is to list it as left out, and why.
    struct LeftOutCase {
        const char *name;
        const char *value;
        bool listed;
        bool unknownName;
    };
    // Checks that RejectedOptions holds c alone, or nothing when c is not to be listed.
    void ExpectListedAsLeftOut(const LeftOutCase &c)
    {
        const std::string option = std::string(c.name) + "=" + c.value;
        if (!c.listed) {
            EXPECT_TRUE(engine.RejectedOptions.empty()) << option;
            return;
        }
        ASSERT_EQ(engine.RejectedOptions.size(), 1u) << option;
        EXPECT_EQ(engine.RejectedOptions[0].Name, c.name) << option;
        EXPECT_EQ(engine.RejectedOptions[0].Value, c.value) << option;
        EXPECT_EQ(engine.RejectedOptions[0].UnknownName, c.unknownName) << option;
    }

    CallbackRecorder recorder;
    TCustomFFmpeg engine;
};

using Reader = std::function<double(const TCustomFFmpeg &)>;
