-- The history file as the first release wrote it, with one record.
CREATE TABLE SessionRecord (id TEXT PRIMARY KEY NOT NULL,
    toolRaw TEXT NOT NULL, projectName TEXT NOT NULL, projectPath TEXT, branch TEXT, modelName TEXT,
    startedAt INTEGER NOT NULL, lastActivityAt INTEGER NOT NULL, stateRaw TEXT NOT NULL, inputTokens INTEGER NOT NULL,
    outputTokens INTEGER NOT NULL, cacheReadTokens INTEGER NOT NULL, cacheWriteTokens INTEGER NOT NULL,
    estimatedCost TEXT, snippet TEXT, pricingVersion INTEGER NOT NULL);
INSERT INTO SessionRecord VALUES ('codex:old', 'codex', 'p', '/p', NULL, 'm', 1, 2, 'ended', 1, 2, 3, 4, '0.5', NULL, 7);
