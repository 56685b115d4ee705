# Read by ctest after the discovered tests: the rough time, in seconds of a plain build, of every test that
# takes more than a few, so that `ctest -j` starts the longest first instead of leaving one of them to run
# alone at the end. Only the order matters. A name that matches no test is ignored; once ctest has timed a
# run of its own, it goes by those times instead.
set_tests_properties(Recognizer.AdaptedWordsAreTheSameForAnyThreadCount PROPERTIES COST 74)
set_tests_properties(RealEngine.SameDocumentForAnyThreadCount PROPERTIES COST 56)
set_tests_properties(Recognizer.SameResultForAnyThreadCountChunkSizeAndHistory PROPERTIES COST 42)
set_tests_properties(BadInputs.GarbageTurnsAndExtraWordsFilesGiveAValidDocument PROPERTIES COST 40)
set_tests_properties(Recognizer.NoisyAudioGivesTheSameResultForAnyThreadCount PROPERTIES COST 30)
set_tests_properties(RealEngine.TwoSynthesisedVoicesAreFoundAsTwoSpeakers PROPERTIES COST 28)
set_tests_properties(RealEngine.LibriVoxClipsGiveOrderedPlausibleWords PROPERTIES COST 24)
set_tests_properties(RealEngine.LongRecordingIsTranscribedInPiecesOnOneTimeLine
                     DamagedModel.EveryRunEndsWithOneJsonTextAndStatusZeroOrOne PROPERTIES COST 19)
set_tests_properties(RealEngine.SpokenFillersAreRestoredNearWhereTheyWereSaid PROPERTIES COST 17)
set_tests_properties(BadInputs.DegenerateRecordingsGiveAValidDocument PROPERTIES COST 15)
set_tests_properties(MemoryLimit.EveryLimitGivesOneJsonTextAndNeverCallsASoundModelDamaged PROPERTIES COST 12)
set_tests_properties(RealEngine.TurnsLabelEveryWordWithItsSpeaker
                     BadInputs.OtherEncodingsOfTheSameSamplesGiveTheSameDocument PROPERTIES COST 10)
set_tests_properties(BadInputs.ACallerThatStopsReadingAStreamStillGetsTheExitStatus
                     RealEngine.NameIsHeardOnlyWithTheVocabulary PROPERTIES COST 7)
set_tests_properties(BadInputs.CommandLinesFromABuggyCaller Recognizer.FaultInADecoderFailsTheCallAndIsSurvived
                     Recognizer.FindsMostReferenceWordsOfARecording PROPERTIES COST 4)
set_tests_properties(RealEngine.TranscriptWithAMissingAndAnExtraSentenceKeepsEveryWordInItsPlace PROPERTIES COST 7)
