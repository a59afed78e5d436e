# The macOS backend's pieces on GNUstep, each a probe process under the end-to-end harness.
# GNUstep's zombies turn a message to a released object into a line on standard error.
from harness import *


def probe(self, *args):
    child = self.start([LAUNCHER, *args], self.env(NSZombieEnabled='YES'), args[0])
    code, errors = child.finish(20), read(f'{self.root}/{args[0]}.stderr')
    self.assertEqual(code, 0, child.output() + errors)
    self.assertNotIn('deallocated instance', errors)


Backend = type('Backend', (E2eTest,), {'test' + name: lambda self, args=args: probe(self, *args) for name, args in {
    'LogReadsAsTheTableFormatsForEveryKindOfFormat': ['log'],
    'ExitTimerFiresWhileAMenuIsTrackedOrAPanelIsModal': ['timer'],
    'QuitSignalBeforeTheApplicationExistsStillQuits': ['quit'],
    'RequestGivenAnotherDelegateAfterSubmissionAnswersItAndReleasesEachObjectOnce': ['delegate', DEXT]}.items()})

if __name__ == '__main__':
    main()
