# The macOS backend's pieces on GNUstep, each in a probe process of its own under
# the end-to-end harness: a private Xvfb, a scratch home, the stand-in's state.
# GNUstep's zombies turn a message to a released object into a line on standard
# error instead of a crash that may or may not come.
from harness import *


class Backend(E2eTest):
    def probe(self, *args):
        child = self.start([LAUNCHER, *args], self.env(NSZombieEnabled='YES'), args[0])
        code, errors = child.finish(20), read(f'{self.root}/{args[0]}.stderr')
        self.assertEqual(code, 0, child.output() + errors)
        self.assertNotIn('deallocated instance', errors)

    def testLogReadsAsTheTableFormatsForEveryKindOfFormat(self):
        self.probe('log')

    def testExitTimerFiresWhileAMenuIsTrackedOrAPanelIsModal(self):
        self.probe('timer')

    def testQuitSignalBeforeTheApplicationExistsStillQuits(self):
        self.probe('quit')

    def testRequestGivenAnotherDelegateAfterSubmissionAnswersItAndReleasesEachObjectOnce(self):
        self.probe('delegate', DEXT)


if __name__ == '__main__':
    main()
