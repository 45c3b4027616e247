# The README's two commands.
.PHONY: run test
run:
	./scripts/run.sh
test:
	./scripts/test.sh
